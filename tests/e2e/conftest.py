# The real player in a pseudo-terminal of the test's own, in a folder of generated tracks.
import fcntl
import os
import select
import shutil
import signal
import subprocess
import tempfile
import termios
import wave

import pexpect.fdpexpect
import pytest

KESTROVA = os.environ["KESTROVA"]
# What a sanitizer build's report ends the process with: 0 in a plain build.
SANITIZER_STATUS = int(os.environ.get("KESTROVA_SANITIZER_STATUS", "0"))


def write_wav(path, seconds):
    with wave.open(str(path), "wb") as w:
        w.setparams((1, 2, 8000, 0, "NONE", ""))
        w.writeframes(bytes(int(seconds * 16000)))


def read_until(fd, text):
    # What a pipe brings until text ends it; the limit only catches a hang.
    seen = b""
    while not seen.endswith(text):
        assert select.select([fd], [], [], 30)[0], f"no {text!r} after {seen!r}"
        seen += os.read(fd, 1)
    return seen


def prompt(name):
    return b"KestrovaSonvane~ " + name + b"~$ "


def listing(names):
    return b"".join(b"%-2d| %s\n" % (i, n) for i, n in enumerate(names))


class Player:
    # Starts the player, or a shell command that runs it as $KESTROVA, on a terminal whose other
    # end the test holds: its settings and file flags stay readable after the player has gone.

    def __init__(self, folder, args=(), env=None, stdin=None, stdout=None, stderr=None,
                 ignore_sigpipe=False, command=None):
        master, tty = os.openpty()
        self.tty = tty
        # The player's own bytes, not the terminal's CR LF.
        attrs = termios.tcgetattr(tty)
        attrs[1] &= ~termios.ONLCR
        termios.tcsetattr(tty, termios.TCSANOW, attrs)
        self.settings = self.terminal_state()

        def child():
            # Default dispositions, whatever the test runner was started with (nohup, a CI shell).
            for number in signal.valid_signals() - {signal.SIGKILL, signal.SIGSTOP}:
                signal.signal(number, signal.SIG_DFL)
            if ignore_sigpipe:
                signal.signal(signal.SIGPIPE, signal.SIG_IGN)
            signal.pthread_sigmask(signal.SIG_SETMASK, [])
            fcntl.ioctl(tty, termios.TIOCSCTTY, 0)

        environment = {**os.environ, "AUDIODEV": "null", "KESTROVA": KESTROVA, **(env or {})}
        self.proc = subprocess.Popen(command or [KESTROVA, *args], cwd=folder, env=environment,
                                     stdin=stdin or self.tty, stdout=stdout or self.tty,
                                     stderr=stderr or self.tty, start_new_session=True,
                                     preexec_fn=child)
        self.term = pexpect.fdpexpect.fdspawn(master, timeout=30)
        self.seen = b""
        self.crash_expected = False

    def terminal_state(self):
        return termios.tcgetattr(self.tty), fcntl.fcntl(self.tty, fcntl.F_GETFL)

    def restored(self):
        return self.terminal_state() == self.settings

    def send(self, keys):
        self.term.send(keys)

    def expect(self, text):
        # Waits for text after what was matched before; the limit only catches a hang.
        self.term.expect_exact(text)
        self.seen += self.term.before + self.term.after
        return self.term.before

    def expect_next(self, text):
        # As expect, and text must come right where the last match ended.
        skipped = self.expect(text)
        assert skipped == b"", f"before {text!r} came {skipped!r}"

    def wait(self, timeout=30):
        # The exit status, or minus the signal that ended it; everything it wrote is read.
        status = self.proc.wait(timeout)
        self.drain()
        return status

    def idle(self, seconds):
        # Reads what the player writes for that long: a moment of the input's schedule.
        self.term.expect(pexpect.TIMEOUT, timeout=seconds)
        self.seen += self.term.before

    def drain(self):
        while True:
            try:
                self.seen += self.term.read_nonblocking(65536, timeout=0.1)
            except (pexpect.TIMEOUT, pexpect.EOF):
                return

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.drain()
        self.term.close()
        os.close(self.tty)


@pytest.fixture
def folder(tmp_path):
    # A folder with the given tracks: names and their lengths in seconds.

    def make(tracks=(), seconds=60):
        for name in tracks:
            write_wav(tmp_path / name, seconds)
        return tmp_path

    return make


@pytest.fixture
def player():
    # Starts players; each is ended after the test, and none may have met a sanitizer.
    started = []

    def start(folder, *args, **options):
        started.append(Player(folder, *args, **options))
        return started[-1]

    yield start
    for p in started:
        p.close()
        if not (SANITIZER_STATUS and p.crash_expected):
            assert b"Sanitizer" not in p.seen, p.seen.decode(errors="replace")


@pytest.fixture
def pulse():
    # A private PulseAudio with a null sink, and a pipe sink that plays only as fast as it is read
    # (44.1 kHz, 16-bit stereo), reached through ALSA's pulse PCM; a short folder, since its
    # socket's path must fit a socket address.
    home = tempfile.mkdtemp(prefix="kpa")
    with open(f"{home}/default.pa", "w") as config:
        config.write(f"load-module module-native-protocol-unix socket={home}/native "
                     "auth-anonymous=1\nload-module module-null-sink sink_name=test\n"
                     f"load-module module-pipe-sink sink_name=pipe file={home}/pipe rate=44100 "
                     "format=s16le channels=2\n")
    env = {**os.environ, "HOME": home, "XDG_RUNTIME_DIR": home, "XDG_CONFIG_HOME": home,
           "PULSE_SERVER": f"unix:{home}/native"}
    server = subprocess.Popen(["pulseaudio", "-n", "-F", f"{home}/default.pa", "--daemonize=no",
                               "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
                               "--log-level=info"], env=env, stderr=subprocess.PIPE)
    # Its log, a few kilobytes a test, says when it is ready and when a stream comes.
    read_until(server.stderr.fileno(), b"Daemon startup complete.\n")
    server.env, server.pipe = env, f"{home}/pipe"
    yield server
    server.send_signal(signal.SIGCONT)
    server.kill()
    server.wait()
    shutil.rmtree(home)
