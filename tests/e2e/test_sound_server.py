# A sound server that hangs never holds the player, and what a held track lets its sink still play.
import array
import fcntl
import os
import signal
import subprocess
import threading
import time
import wave

import pytest
from conftest import listing, prompt, read_until

RATE = 44100

HUNG = (b'kestrova: no sound: ALSA PCM "pulse" does not answer; '
        b"set AUDIODEV, see 'aplay -L'\n")


@pytest.mark.parametrize("hung", ["mid-track", "before the start"])
def test_a_hung_server_never_holds_the_player(folder, player, pulse, hung):
    if hung == "before the start":
        pulse.send_signal(signal.SIGSTOP)
    p = player(folder(["a.wav", "b.wav"]), env={**pulse.env, "AUDIODEV": "pulse"})
    p.expect_next(listing([b"a", b"b"]) + b"\n" + prompt(b"a"))
    if hung == "mid-track":
        # Stopped once the player's stream is there.
        read_until(pulse.stderr.fileno(), b'Created input 0 "ALSA Playback"')
        pulse.send_signal(signal.SIGSTOP)
    # Each answer within a few seconds, where a hung server held the player for ever.
    p.term.timeout = 5
    p.send(b"ls\n")
    p.expect(listing([b"a", b"b"]) + prompt(b"a"))
    p.send(b"next\n")
    p.expect(HUNG)
    p.expect(prompt(b"b"))
    p.send(b"0\n")
    p.expect(prompt(b"a"))
    p.send(b"exit\n")
    assert p.wait(timeout=5) == 1
    assert p.restored()


class Heard(threading.Thread):
    """The pipe sink's sound, taken as a sound card plays it, 5 ms at a time, each block once the
    one before has played out, through a pipe of one page (23 ms), so that a frame read is a frame
    heard: of each, the track's position in ms that its level tells."""

    def __init__(self, fifo):
        super().__init__(daemon=True)
        self.fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # the sink has it open already
        os.set_blocking(self.fd, True)
        fcntl.fcntl(self.fd, fcntl.F_SETPIPE_SZ, 4096)
        self.at = []
        self.heard = threading.Condition()
        self.start()

    def run(self):
        due, rest = 0.0, b""
        while got := os.read(self.fd, 4 * RATE // 200):  # nothing once the server has gone
            due = max(due, time.monotonic())  # a sink that kept it waiting sets the pace
            rest += got
            left = array.array("h", rest[:len(rest) // 4 * 4])[0::2]
            rest = rest[len(left) * 4:]
            due += len(left) / RATE
            with self.heard:
                self.at += [(v - 200) / 2 if v > 100 else None for v in left]
                self.heard.notify_all()
            # The card's clock: the next block is taken when this one has played.
            time.sleep(max(0.0, due - time.monotonic()))

    def until(self, test):
        with self.heard:  # the limit only catches a hang
            assert self.heard.wait_for(test, timeout=30), "the sink never played it"

    def played(self, since):
        return [at for at in self.at[since:] if at is not None]


# How the track is held, once `at` s of it have been heard, what then shows that it is held, how
# it is let go, and how much more of the track the sink may play meanwhile (in ms): a pause waits
# for the next keyboard poll, Ctrl-Z for nothing.
HOLDS = {**{f"Ctrl-Z at {at} s": (at, b"\x1a", b"stopped\n", b"\n", 300) for at in (0.5, 1, 2)},
         "pause at 1 s": (1, b"pause\n", b"pause\n", b"k", 500)}


@pytest.mark.parametrize("at,hold,held,release,most", HOLDS.values(), ids=HOLDS.keys())
def test_a_held_track_falls_silent_and_goes_on_from_there(folder, player, pulse, at, hold, held,
                                                          release, most):
    # A level that rises through the track tells which part of it each frame heard is. The hold
    # lasts 2.5 s, more than the device's whole buffer, which a sound server that went on would
    # play out meanwhile. Ctrl-Z needs a shell with job control.
    with wave.open(str(folder() / "rise.wav"), "wb") as w:
        w.setparams((2, 2, RATE, 0, "NONE", ""))
        w.writeframes(array.array("h", (200 + i * 2000 // RATE for i in range(4 * RATE)
                                        for _ in "lr")).tobytes())
    sink = Heard(pulse.pipe)
    shell = ["/bin/dash", "-c", 'set -m; "$KESTROVA"; echo stopped; read x; fg']
    p = player(folder(), command=shell if hold == b"\x1a" else None,
               env={**pulse.env, "AUDIODEV": "pulse", "PULSE_SINK": "pipe"})
    sink.until(lambda: sink.played(-1) and sink.at[-1] >= at * 1000)
    heard, since = sink.at[-1], len(sink.at)
    p.send(hold)
    p.expect(held)
    p.idle(2.5)
    assert max(sink.played(since), default=heard) - heard <= most
    since = len(sink.at)
    p.send(release)
    sink.until(lambda: sink.played(since))
    assert heard - 100 <= sink.played(since)[0] <= heard + most, "not the same track from there"
    p.send(b"exit\n")
    assert p.wait() == 1
