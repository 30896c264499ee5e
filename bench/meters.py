"""The bench's meters: players spawned and read from /proc while they play, and the sound a
sound server's sinks give, read in 5 ms blocks."""
import array, contextlib, fcntl, os, random, select, struct, subprocess, termios, time, wave

RATE, FRAME = 44100, 4  # s16 stereo
BLOCK = RATE // 200  # the 5 ms blocks in which the sinks' sound is read
LOW, HIGH = 3000, 12000  # two constant levels: the sound tells which track plays

class Broken(Exception):  # something the bench needs failed: the run stops and says what
    pass

def spawn(cmd, cwd=None, out=subprocess.DEVNULL, err=None):
    return subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.PIPE, stdout=out, stderr=err)

def finish(p):
    """Ends a process that is still running; one that has already ended is only reaped."""
    with contextlib.suppress(BrokenPipeError):
        p.stdin and p.stdin.close()
    if p.poll() is None:
        p.terminate()
    p.wait()

def send(p, text):
    p.stdin.write(text.encode())
    p.stdin.flush()

def reading(pid):
    """What the kernel tells of a running process at one moment. psutil counts a process's
    switches from its main thread alone, so each thread's are summed; its cpu_times counts 10 ms
    ticks, as much as aplay takes in a window, so CPU comes from the nanosecond clocks: the
    process's own (threads that have ended included) and each thread's schedstat."""
    import psutil  # installed by the setup that bench/run starts with
    vol, threads = 0, {}
    try:
        listed = psutil.Process(pid).threads()
    except psutil.NoSuchProcess:
        raise ProcessLookupError(pid)
    for t in listed:
        with contextlib.suppress(psutil.NoSuchProcess, OSError):  # a thread that has just ended
            vol += psutil.Process(t.id).num_ctx_switches().voluntary
            threads[t.id] = int(open(f"/proc/{pid}/task/{t.id}/schedstat").read().split()[0]) / 1e9
    # The kernel's id for the CPU clock of process pid.
    return dict(t=time.monotonic(), cpu=time.clock_gettime((~pid << 3) | 2), vol=vol,
                threads=threads)

def paced(cmd, cwd, settle, window, stop=False):
    """Plays for settle seconds, then takes wake-ups and CPU over window seconds, and the peak
    RSS at its end. With stop the player is sent "stop" first: the window is its wait for a key."""
    p = spawn(cmd, cwd, err=subprocess.DEVNULL)  # a player ended by SIGTERM may complain
    try:
        time.sleep(settle)
        if stop:
            send(p, "stop\n")
            time.sleep(0.5)
        if p.poll() is not None:
            raise Broken(f"{cmd[-1]} ended before the window")
        a = reading(p.pid)
        time.sleep(window)
        b = reading(p.pid)
        with open(f"/proc/{p.pid}/status") as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
        if p.poll() is not None:
            raise Broken(f"{cmd[-1]} ended inside the window")
    except (OSError, StopIteration) as e:
        raise Broken(f"{cmd[-1]} ended inside the window ({e!r})")
    finally:
        finish(p)
    span = b["t"] - a["t"]
    ms = 1000 / span
    ta, tb = a["threads"], b["threads"]
    grew = [tb[t] - ta[t] for t in tb if t in ta]
    return dict(vcsw_per_s=(b["vol"] - a["vol"]) / span, cpu_ms_per_s=(b["cpu"] - a["cpu"]) * ms,
                main_cpu_ms_per_s=(tb[p.pid] - ta[p.pid]) * ms,
                busiest_cpu_ms_per_s=max(grew, default=0) * ms, threads=len(tb), maxrss_kb=rss)

def startup(cmd, cwd, until=None, env=None):
    """Milliseconds from just before the start to the first sight of until in the output, or to
    the end of the output when no text is given."""
    start = time.monotonic()
    p = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    seen = b""
    while not (until and until.encode() in seen):
        chunk = os.read(p.stdout.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
    took = (time.monotonic() - start) * 1000
    p.stdout.close()
    finish(p)
    if until and until.encode() not in seen:
        raise Broken(f'"{until}" never appeared from {cmd[0]}')
    return dict(startup_ms=took)

class Sound:
    """What a sink plays, s16 stereo at 44.1 kHz: the null sink's monitor through parec, each
    frame heard when its block arrives; or the pipe sink's FIFO, read at real-time pace, each
    frame heard at its place in that pace."""

    def __init__(self, fifo=None):
        self.carry, self.parec = b"", None
        if fifo:
            self.fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
            # A pipe's 64 KiB would hold 0.37 s that nothing takes back; one page holds 23 ms.
            while not self.shrink():  # busy: the sink wrote more than a page meanwhile
                pass
            self.t0, self.frames = time.monotonic(), 0
        else:
            self.parec = subprocess.Popen(
                ["parec", "-d", "bench.monitor", "--raw", "--format=s16le", "--rate=44100",
                 "--channels=2", "--latency-msec=5"], stdout=subprocess.PIPE)
            self.fd = self.parec.stdout.fileno()
            os.set_blocking(self.fd, False)

    def shrink(self):
        with contextlib.suppress(BlockingIOError):
            while os.read(self.fd, 65536):
                pass
        with contextlib.suppress(OSError):
            return fcntl.fcntl(self.fd, fcntl.F_SETPIPE_SZ, 4096)

    def queued_ms(self):
        """How much sound the pipe holds: rendered, and sure to be heard."""
        held = array.array("i", [0])
        fcntl.ioctl(self.fd, termios.FIONREAD, held)
        return (held[0] + len(self.carry)) * 1000 / (RATE * FRAME)

    def close(self):
        if self.parec:
            self.parec.terminate()  # before its pipe closes, which it would complain of
            finish(self.parec)
        else:
            os.close(self.fd)

    def read(self):
        """Waits up to 10 ms for sound; returns the time now and each new frame's left sample
        with the moment it was heard."""
        if self.parec:
            select.select([self.fd], [], [], 0.01)
            want = 65536
        else:
            due = int((time.monotonic() - self.t0) * RATE) - self.frames
            if due < BLOCK:
                time.sleep((BLOCK - due) / RATE)
                due = BLOCK
            want = due * FRAME - len(self.carry)
        try:
            data = os.read(self.fd, want)
            if not data:
                raise Broken("the sink's sound ended")
        except BlockingIOError:
            data = b""
        now = time.monotonic()
        data = self.carry + data
        n = len(data) // FRAME
        self.carry = data[n * FRAME:]
        left = struct.unpack(f"<{2 * n}h", data[:n * FRAME])[0::2]
        if self.parec:  # the read returned when the block's last frame had been rendered
            first = now - (n - 1) / RATE
        else:
            if n * FRAME < want:  # the pipe ran dry: the sink, not this reader, sets the pace
                self.t0 = max(self.t0, now - (self.frames + n) / RATE)
            first, self.frames = self.t0 + self.frames / RATE, self.frames + n
        return now, [(s, first + i / RATE) for i, s in enumerate(left)]

def first_sound(cmd, cwd, fifo):
    """Milliseconds from the player's first prompt to its first frame heard on the pipe sink."""
    sound, p = Sound(fifo), spawn(cmd, cwd, out=subprocess.PIPE)
    try:
        seen = b""
        while not seen.endswith(b"~$ "):
            chunk = os.read(p.stdout.fileno(), 4096)
            if not chunk:
                raise Broken(f"no prompt from {cmd[-2]}")
            seen += chunk
        shown = time.monotonic()
        while time.monotonic() - shown < 8:
            heard = [at for s, at in sound.read()[1] if abs(s) > 64]
            if heard:
                return dict(first_ms=(heard[0] - shown) * 1000)
        raise Broken(f"no sound from {cmd[-2]} within 8 s")
    finally:
        finish(p)
        sound.close()

def level_of(sample):
    return next((v for v in (LOW, HIGH) if abs(sample - v) < v / 4), 0)

def trials(cmd, action, n, cwd=None, fifo=None):
    """Times n requests to a player of tracks of constant levels, each sent at a random moment
    0.3-0.7 s after a level has been heard steadily: "next" to the first frame at the other level;
    "pause" or "close" to the last frame still heard at the level once the sink has been silent
    for a second, after which "resume" or "play" starts the next try. On the pipe sink, what the
    pipe held at the request is taken too."""
    sound, p, pick = Sound(fifo), spawn(cmd, cwd), random.Random(12345)
    if action != "next":
        send(p, "play\n")
    state, target, run_len, deadline, sent, last, queued = "steady", 0, 0, 0.0, 0.0, 0.0, None
    since, out = time.monotonic(), []
    try:
        while len(out) < n:
            now, heard = sound.read()
            for s, at in heard:
                level = level_of(s)
                if state == "waiting" and action == "next" and level == target and len(out) < n:
                    out.append(dict(next_ms=(at - sent) * 1000))
                    state, run_len = "steady", 0
                target = target or level  # the folder's order decides which track comes first
                run_len = run_len + 1 if level and level == target else 0
                last = at if run_len else last
                if state == "steady" and run_len >= RATE * 0.3:
                    state, deadline = "delay", now + pick.uniform(0, 0.4)
            now = time.monotonic()
            if state == "delay" and now >= deadline:
                queued = None if sound.parec else sound.queued_ms()
                send(p, action + "\n")
                sent = since = time.monotonic()
                state, target = "waiting", target if action != "next" else LOW + HIGH - target
            elif state == "waiting" and action != "next" and now - last > 1 and now - sent > 1:
                out.append(dict(hush_ms=(last - sent) * 1000, queued_ms=queued))
                send(p, "resume\n" if action == "pause" else "play\n")
                state, run_len, since = "steady", 0, now
            if state != "delay" and now - since > 8:
                raise Broken(f"{action}: nothing changed within 8 s ({state}, level {target})")
            if p.poll() is not None:
                raise Broken(f"{action}: the player ended")
        send(p, "exit\n")
        time.sleep(0.3)
    finally:
        finish(p)
        sound.close()
    return out

def make_rise(path, secs=60):
    """A track whose level rises with its position, half a step a millisecond: each frame heard
    tells which part of the track it is."""
    if os.path.exists(path):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setparams((2, 2, RATE, 0, "NONE", None))
        w.writeframes(array.array("h", (200 + i * 500 // RATE for i in range(secs * RATE)
                                        for _ in "lr")).tobytes())

def position_of(sample):  # ms into the rising track, None for silence
    return (sample - 200) * 2 if sample > 100 else None

def held(kestrova, cwd, fifo, how, n, hold=1.5):
    """Holds the real player n times while it plays the rising track on the pipe sink: by Ctrl-Z
    under a shell with job control (then fg) or by its word "pause" (then a key), each 0.3-0.7 s
    after the track has been heard again. For each: the track's ms that the sink still played
    after the request, and where the track went on after the release, against the last of it
    heard before (ms; below 0, heard twice)."""
    master, slave = os.openpty()
    cmd = ["/bin/dash", "-c", 'set -m; "$0"; while read x; do fg; done', kestrova] \
        if how == "ctrl-z" else [kestrova]
    sound = Sound(fifo)
    p = subprocess.Popen(cmd, cwd=cwd, stdin=slave, stdout=slave, stderr=slave,
                         start_new_session=True, env=dict(os.environ, AUDIODEV="pulse",
                                                          PULSE_SINK="pipe"),
                         preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    os.set_blocking(master, False)
    request, release = (b"\x1a", b"\n") if how == "ctrl-z" else (b"pause\n", b"k")
    pick, out, state, due, last, since = random.Random(12345), [], "waiting", 0.0, None, time.monotonic()
    try:
        while len(out) < n or state != "playing":
            now, heard = sound.read()
            with contextlib.suppress(BlockingIOError):
                os.read(master, 65536)  # the player's screen, unread
            for s, at in heard:
                pos = position_of(s)
                if pos is None:
                    continue
                if state == "released":
                    out[-1]["resume_ms"] = pos - last
                if state in ("waiting", "released"):
                    state, due, since = "playing", now + pick.uniform(0.3, 0.7), now
                if state == "held":
                    out[-1]["hush_ms"] = max(out[-1]["hush_ms"], pos - out[-1]["from"])
                last = pos
            if state == "playing" and now >= due and len(out) < n:
                os.write(master, request)
                out.append(dict(hush_ms=0, resume_ms=None, **{"from": last}))
                state, since = "held", now
            elif state == "held" and now - since > hold:
                os.write(master, release)
                state, since = "released", now
            if state != "playing" and now - since > 8 + hold:
                raise Broken(f"{how}: nothing changed within 8 s ({state})")
            if p.poll() is not None:
                raise Broken(f"{how}: the player ended")
        os.write(master, b"exit\n")
        time.sleep(0.3)
    finally:
        finish(p)
        os.close(master)
        sound.close()
    return [dict(hush_ms=o["hush_ms"], resume_ms=o["resume_ms"]) for o in out]
