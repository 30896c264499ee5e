# The command line and the sound device, through the real binary on a terminal: what each run
# writes to standard output and standard error, and how it ends.
import os
import subprocess

import pytest
from conftest import KESTROVA, listing, prompt, read_until, write_wav

PLAYED = listing([b"a"]) + b"\n" + prompt(b"a") * 2
NO_SOUND = (b'kestrova: no sound: cannot open ALSA PCM "nosuch" (No such file or directory); '
            b"set AUDIODEV, see 'aplay -L'\n")

# Arguments ({} is a folder of tracks, not the one the player starts in), then the status,
# standard output and standard error. A run that plays types "alloop" at once: its one
# short track ends it.
RUNS = {
    "no argument, in a folder without tracks": ([], 1, b"There are no mp3s.\n", b""),
    "a folder of tracks": (["{}"], 0, PLAYED, b""),
    "no such folder": (["/no/such"], 2, b"", b"kestrova: /no/such: No such file or directory\n"),
    "a folder that cannot be listed": (["{}/locked"], 2, b"",
                                       b"kestrova: {}/locked: Permission denied\n"),
}


@pytest.mark.parametrize("args,status,out,err", RUNS.values(), ids=RUNS.keys())
def test_the_command_line(tmp_path, player, args, status, out, err):
    music = tmp_path / "music"
    music.mkdir()
    write_wav(music / "a.wav", 0)
    (music / "locked").mkdir(mode=0o300)
    args = [a.replace("{}", str(music)) for a in args]
    # Root reads any folder; without the right to override permissions it meets them as a user.
    command = ["setpriv", "--bounding-set=-dac_override,-dac_read_search"] * (os.geteuid() == 0)
    p = player(tmp_path, command=command + [KESTROVA, *args], stdout=subprocess.PIPE,
               stderr=subprocess.PIPE)
    p.send(b"alloop\n")
    got_out, got_err = p.proc.communicate(timeout=30)
    assert (p.proc.returncode, got_err) == (status, err.replace(b"{}", bytes(music)))
    assert got_out == out
    assert p.restored()


@pytest.mark.parametrize("piped", [False, True], ids=["on the screen", "standard error piped"])
def test_the_notice_gets_a_line_of_its_own_and_the_prompt_comes_again(folder, player, piped):
    # On the screen only: a file or pipe gets the line alone.
    p = player(folder(["a.wav"]), env={"AUDIODEV": "nosuch"}, stderr=piped and subprocess.PIPE)
    shown = b"" if piped else b"\n" + NO_SOUND + prompt(b"a")
    p.expect_next(listing([b"a"]) + b"\n" + prompt(b"a") + shown)
    assert not piped or read_until(p.proc.stderr.fileno(), NO_SOUND) == NO_SOUND
    p.send(b"exit\n")
    assert p.wait() == 1
