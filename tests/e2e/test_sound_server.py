# A sound server that hangs never holds the player: every word is answered, and the player ends.
import os
import shutil
import signal
import subprocess
import tempfile

import pytest
from conftest import listing, prompt, read_until

HUNG = (b'kestrova: no sound: ALSA PCM "pulse" does not answer; '
        b"set AUDIODEV, see 'aplay -L'\n")


@pytest.fixture
def pulse():
    # A private PulseAudio with a null sink, reached through ALSA's pulse PCM; a short folder,
    # since its socket's path must fit a socket address.
    home = tempfile.mkdtemp(prefix="kpa")
    with open(f"{home}/default.pa", "w") as config:
        config.write(f"load-module module-native-protocol-unix socket={home}/native "
                     "auth-anonymous=1\nload-module module-null-sink sink_name=test\n")
    env = {**os.environ, "HOME": home, "XDG_RUNTIME_DIR": home, "XDG_CONFIG_HOME": home,
           "PULSE_SERVER": f"unix:{home}/native"}
    server = subprocess.Popen(["pulseaudio", "-n", "-F", f"{home}/default.pa", "--daemonize=no",
                               "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
                               "--log-level=info"], env=env, stderr=subprocess.PIPE)
    # Its log, a few kilobytes a test, says when it is ready and when a stream comes.
    read_until(server.stderr.fileno(), b"Daemon startup complete.\n")
    server.env = env
    yield server
    server.send_signal(signal.SIGCONT)
    server.kill()
    server.wait()
    shutil.rmtree(home)


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
