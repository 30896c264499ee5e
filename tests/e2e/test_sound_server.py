# A sound server that hangs never holds the player: every word is answered, and the player ends.
import signal

import pytest
from conftest import listing, prompt, read_until

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
