# The formats -a plays, through the real binary: what reaches ALSA's file PCM, whole, and the
# length that "time" shows; and a file that cannot be played is named.
import array
import math
import random
import subprocess
import wave

import pytest
from conftest import prompt

RATE, SECONDS = 44100, 4
# File name, the encoder's command line, and the rate it decodes at (0: sample for sample).
ENCODED = {
    "lossless.Flac": (["flac", "-s", "-f", "{src}", "-o", "{out}"], 0),
    "cbr.mp3": (["lame", "--quiet", "-b", "128", "{src}", "{out}"], RATE),
    "vbr.MP3": (["lame", "--quiet", "-V2", "{src}", "{out}"], RATE),
    # No Xing header: the length must come from the frames themselves, not the first ones.
    "no xing.Mp3": (["lame", "--quiet", "-V2", "-t", "{src}", "{out}"], RATE),
    "cover art.mp3": (["lame", "--quiet", "-b", "128", "--ti", "{cover}", "{src}", "{out}"], RATE),
    "vorbis.Ogg": (["oggenc", "-Q", "{src}", "-o", "{out}"], RATE),
    "opus.OPUS": (["opusenc", "--quiet", "{src}", "{out}"], 48000),
}


@pytest.fixture(scope="module")
def sweep(tmp_path_factory):
    # A second of noise, then a quiet tone: a variable bit rate spends its bits at the start, so
    # an MPEG length guessed from the first frames falls far short.
    noise = random.Random(7)
    samples = array.array("h")
    for i in range(RATE * SECONDS):
        level = noise.uniform(-0.3, 0.3) if i < RATE else 0.2 * math.sin(i * 2 * math.pi / 100)
        samples.extend([int(level * 32767)] * 2)
    folder = tmp_path_factory.mktemp("sweep")
    with wave.open(str(folder / "sweep.wav"), "wb") as w:
        w.setparams((2, 2, RATE, 0, "NONE", ""))
        w.writeframes(samples.tobytes())
    # Cover art of 400 KB, in front of the audio in the ID3v2 tag.
    (folder / "cover.jpg").write_bytes(b"\xff\xd8\xff\xe0" + random.Random(8).randbytes(400000))
    return folder, samples


def rms(values, scale=1.0):
    return math.sqrt(sum((v / scale) ** 2 for v in values) / len(values))


@pytest.mark.parametrize("name", ENCODED)
def test_each_format_plays_whole_for_its_real_length(tmp_path, player, sweep, name):
    source, samples = sweep
    command, rate = ENCODED[name]
    subprocess.run([a.format(src=source / "sweep.wav", out=tmp_path / name, cover=source /
                             "cover.jpg") for a in command], check=True)
    heard = tmp_path.parent / f"{tmp_path.name}.raw"
    p = player(tmp_path, ["-a"], env={"AUDIODEV": f"file:'{heard}',raw"})
    p.expect(prompt(name.rsplit(".", 1)[0].encode()))
    # The end of the list ends the player: the track is played once, whatever the machine's pace.
    p.send(b"alloop\ntime\n")
    p.expect(b" / 0 min %d sec\n" % SECONDS)
    assert p.wait() == 0
    if rate == 0:
        assert heard.read_bytes() == samples.tobytes()
        return
    decoded = array.array("f", heard.read_bytes())
    # Whole, give or take the codec's own delay and padding; at the level it was made.
    assert abs(len(decoded) / 2 / rate - SECONDS) < 0.1
    assert abs(rms(decoded) / rms(samples, 32768) - 1) < 0.1


# A listed file that cannot be played, in either mode: named on standard error, once a play.
BROKEN = {
    "text named .wav": ([], "broken.wav", b"not a wave file"),
    "text named .flac, -a": (["-a"], "broken.flac", b"not a sound file the player can read"),
}


@pytest.mark.parametrize("args,name,reason", BROKEN.values(), ids=BROKEN.keys())
def test_a_file_that_cannot_be_played_is_named(tmp_path, player, args, name, reason):
    (tmp_path / name).write_text("not music\n")
    p = player(tmp_path, args, stderr=subprocess.PIPE)
    p.expect(prompt(b"broken"))
    p.send(b"next\nexit\n")
    assert p.wait() == 1
    # Once a play: the short track may come round again before the words are read.
    plays = p.seen.count(prompt(b"broken"))
    said = b'kestrova: cannot play "%s": %s\n' % (name.encode(), reason)
    assert plays >= 2 and p.proc.stderr.read() == said * plays
