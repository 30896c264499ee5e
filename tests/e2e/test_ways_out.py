# Every way out of the player gives the terminal back as it found it, and ends as the shell expects.
import os
import signal
import termios

import pytest
from conftest import SANITIZER_STATUS, prompt, read_until

# Tracks (50: a full list of empty ones, else two long ones), keys typed at the first prompt, a
# signal then sent, and the status: the exit status, or minus the signal that ends the player.
WAYS_OUT = {
    # The buffered line end after "49" is the key that the end of a full list waits for.
    "fiftieth track": (50, b"49\n", None, 0),
    "fifty": (2, b"50\n", None, 0),
    "exit": (2, b"exit\n", None, 1),
    "Ctrl-C": (2, b"\x03", None, -signal.SIGINT),
    "Ctrl-backslash": (2, b"\x1c", None, -signal.SIGQUIT),
    "SIGTERM": (2, b"", signal.SIGTERM, -signal.SIGTERM),
    "SIGHUP": (2, b"", signal.SIGHUP, -signal.SIGHUP),
    "SIGUSR1": (2, b"", signal.SIGUSR1, -signal.SIGUSR1),
    "SIGABRT": (2, b"", signal.SIGABRT, -signal.SIGABRT),
    # Under a sanitizer a crash must still reach its report, which then ends the process with the
    # sanitizer's own status.
    "SIGSEGV": (2, b"", signal.SIGSEGV, SANITIZER_STATUS or -signal.SIGSEGV),
    "real-time signal": (2, b"", signal.SIGRTMIN + 1, -signal.SIGRTMIN - 1),
}


@pytest.mark.parametrize("tracks,keys,sent,status", WAYS_OUT.values(), ids=WAYS_OUT.keys())
def test_every_way_out_gives_the_terminal_back(folder, player, tracks, keys, sent, status):
    names = [f"t{i:02}.wav" for i in range(tracks)]
    p = player(folder(names, seconds=0 if tracks == 50 else 60))
    p.crash_expected = sent == signal.SIGSEGV
    p.expect(b"~$ ")
    assert not p.restored(), "the player's own mode while it plays"
    p.send(keys)
    if sent:
        p.proc.send_signal(sent)
    assert p.wait() == status
    if p.crash_expected and SANITIZER_STATUS:
        assert b"Sanitizer: SEGV" in p.seen
    assert p.restored()
    assert p.seen.endswith(b"\n"), "the shell's prompt would follow the player's on its line"
    assert not p.seen.replace(b"\r", b"").endswith(b"\n\n"), "and no blank line before it"


@pytest.mark.parametrize("ignored,status", [(False, -signal.SIGPIPE), (True, 1)])
def test_a_closed_output_pipe(folder, player, ignored, status):
    # The next write brings SIGPIPE; unless it is ignored, and then the player plays on unheard
    # until "exit".
    read_end, write_end = os.pipe()
    p = player(folder(["a.wav", "b.wav"]), stdout=write_end, ignore_sigpipe=ignored)
    os.close(write_end)
    read_until(read_end, b"~$ ")
    os.close(read_end)
    p.send(b"ls\nexit\n")
    assert p.wait() == status
    assert p.restored()


def test_ctrl_z_gives_the_terminal_back_and_fg_goes_on_where_it_was(folder, player):
    # Under a shell with job control (dash leaves the terminal as the player left it). While the
    # player is stopped the shell has its terminal back; after fg the prompt and the half-typed word
    # come again on a fresh line and the word goes on where it was, and the five seconds stopped
    # have not counted toward the track. That the sound is held and let go is heard on a sound
    # server in test_sound_server.py.
    shell = ('set -m; before=$(stty -g); "$KESTROVA"; '
             '[ "$(stty -g)" = "$before" ] && echo given back; read x; fg; echo ended:$?')
    p = player(folder(["one.wav", "two.wav"]), command=["/bin/dash", "-c", shell])
    p.expect(b"~$ ")
    # Echoed, so read: the terminal throws away what is unread when Ctrl-Z comes.
    p.send(b"ti")
    p.expect_next(b"ti")
    p.send(b"\x1a")
    p.expect(b"given back\n")
    # How long the stop lasts is the input here, not a wait for something to happen.
    p.idle(5)
    p.send(b"\n")
    p.expect(b"\n" + prompt(b"one") + b"ti")
    p.send(b"me\n")
    assert int(p.expect(b" sec / 1 min 0 sec").split(b" min ")[-1]) <= 2
    p.send(b"exit\n")
    p.expect(b"ended:1")
    assert p.restored()


def test_a_continue_takes_the_terminal_again_whoever_changed_it(folder, player):
    # Stopped where no handler sees it, with the terminal set back meanwhile: the continue alone
    # puts the player's mode back, and with the output piped it draws only a fresh line and the
    # half-typed word on the terminal, byte for byte.
    read_end, write_end = os.pipe()
    p = player(folder(["one.wav", "two.wav", "three.wav"]), stdout=write_end)
    read_until(read_end, prompt(b"one"))
    p.send(b"ne")
    p.expect_next(b"ne")
    p.proc.send_signal(signal.SIGSTOP)
    os.waitpid(p.proc.pid, os.WUNTRACED)
    termios.tcsetattr(p.tty, termios.TCSANOW, p.settings[0])
    p.proc.send_signal(signal.SIGCONT)
    p.expect_next(b"\nne")
    # Echoed once, by the player: a terminal left in its line mode would echo it too.
    p.send(b"xt\n")
    read_until(read_end, prompt(b"three"))
    p.send(b"stop\n")
    p.expect_next(b"xt\nstop\n")
    p.send(b"k")
    assert read_until(read_end, prompt(b"two")) == b"\n" + prompt(b"two")
