# The formats -a plays, through the real binary: what reaches ALSA's file PCM, whole, and the
# length that "time" shows; and a file that cannot be played is named.
import array
import math
import random
import shutil
import subprocess
import wave

import pytest
from conftest import KESTROVA, prompt

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
    # Through the FFmpeg module, made by FFmpeg's own encoders.
    "aac.M4a": (["ffmpeg", "-c:a", "aac"], RATE),
    "alac.m4a": (["ffmpeg", "-c:a", "alac"], 0),
    "adts.AAC": (["ffmpeg", "-c:a", "aac"], RATE),
    "wma.wma": (["ffmpeg", "-c:a", "wmav2"], RATE),
    "wavpack.Wv": (["ffmpeg", "-c:a", "wavpack"], 0),
    "opus.webm": (["ffmpeg", "-c:a", "libopus"], 48000),
    "vorbis.MKA": (["ffmpeg", "-c:a", "libvorbis"], RATE),
}
# Lossy, but the container says where the sound ends, to the sample.
EXACT_LENGTH = {"aac.M4a"}


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


def encode(name, folder, source):
    command, _ = ENCODED[name]
    if command[0] == "ffmpeg":
        command = ["ffmpeg", "-loglevel", "error", "-i", "{src}", *command[1:], "{out}"]
    subprocess.run([a.format(src=source / "sweep.wav", out=folder / name, cover=source /
                             "cover.jpg") for a in command], check=True)


@pytest.mark.parametrize("name", ENCODED)
def test_each_format_plays_whole_for_its_real_length(tmp_path, player, sweep, name):
    source, samples = sweep
    rate = ENCODED[name][1]
    encode(name, tmp_path, source)
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
    if name in EXACT_LENGTH:
        assert len(decoded) == len(samples)
    # Whole, give or take the codec's own delay and padding; at the level it was made.
    assert abs(len(decoded) / 2 / rate - SECONDS) < 0.1
    assert abs(rms(decoded) / rms(samples, 32768) - 1) < 0.1


# FFmpeg's libraries come into the process with the first track that needs them, not before.
def test_ffmpeg_is_loaded_by_the_first_track_that_needs_it(tmp_path, player, sweep):
    source, _ = sweep
    shutil.copy(source / "sweep.wav", tmp_path / "a.wav")
    for name in ("cbr.mp3", "lossless.Flac", "wma.wma"):
        encode(name, tmp_path, source)
    p = player(tmp_path, ["-a"])
    for name, loaded in ((b"a", False), (b"cbr", False), (b"lossless", False), (b"wma", True)):
        p.expect(prompt(name))
        # The time shows once the track is open.
        p.send(b"time\n")
        p.expect(b" / 0 min %d sec\n" % SECONDS)
        with open(f"/proc/{p.proc.pid}/maps") as maps:
            assert ("/libavcodec.so" in maps.read()) == loaded, name
        p.send(b"next\n")


# A listed file that cannot be played, in either mode: named on standard error, once a play.
# Each played by a copy of the player with no FFmpeg module beside it, nor installed where it
# would look.
MP4 = b"\0\0\0\x18ftypM4A \0\0\0\0"
BROKEN = {
    "text named .wav": ([], "broken.wav", b"not music", b"not a wave file"),
    "text named .flac, -a": (["-a"], "broken.flac", b"not music",
                             b"not a sound file the player can read"),
    "MP4 named .wav": ([], "broken.wav", MP4, b"not a wave file"),
    "MP4 without the module, -a": (["-a"], "broken.m4a", MP4,
                                   b"needs the kestrova-ffmpeg package"),
}


@pytest.mark.parametrize("args,name,content,reason", BROKEN.values(), ids=BROKEN.keys())
def test_a_file_that_cannot_be_played_is_named(tmp_path, player, args, name, content, reason):
    (tmp_path / name).write_bytes(content)
    alone = tmp_path.parent / f"{tmp_path.name}-alone"
    alone.mkdir()
    p = player(tmp_path, stderr=subprocess.PIPE,
               command=[shutil.copy(KESTROVA, alone / "kestrova"), *args])
    p.expect(prompt(b"broken"))
    p.send(b"next\nexit\n")
    assert p.wait() == 1
    # Once a play: the short track may come round again before the words are read.
    plays = p.seen.count(prompt(b"broken"))
    said = b'kestrova: cannot play "%s": %s\n' % (name.encode(), reason)
    assert plays >= 2 and p.proc.stderr.read() == said * plays
