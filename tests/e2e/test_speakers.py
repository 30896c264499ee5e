# Each channel of a 5.1 file heard from its own speaker, on a 6-channel sink of a private
# PulseAudio: a tone a channel, each of its own pitch, read back from the sink's monitor.
import array
import math
import subprocess
import wave

import pytest
from conftest import prompt, read_until

RATE, SECONDS = 44100, 3
# The file's channels, in the order wave files and FLAC keep them, and the pitch of each one's
# tone: low enough for the LFE channel, a whole number of periods in a second.
FILE_ORDER = ["front-left", "front-right", "front-center", "lfe", "rear-left", "rear-right"]
PITCHES = [60, 80, 100, 120, 140, 160]
# The sink's own order, which is ALSA's.
SINK_ORDER = ["front-left", "front-right", "rear-left", "rear-right", "front-center", "lfe"]

# The file's name, the options, and the encoder that makes it from the wave file.
FILES = {
    "wave, no option": ("five one.wav", [], None),
    "Ogg Vorbis, -a": ("five one.ogg", ["-a"], ["oggenc", "-Q", "{src}", "-o", "{out}"]),
}


def write_five_one(path):
    samples = array.array("h")
    for i in range(RATE * SECONDS):
        samples.extend(int(8000 * math.sin(2 * math.pi * f * i / RATE)) for f in PITCHES)
    with wave.open(str(path), "wb") as w:
        w.setparams((6, 2, RATE, 0, "NONE", ""))
        w.writeframes(samples.tobytes())


def read_exactly(pipe, size):
    data = b""
    while len(data) < size:
        more = pipe.read(size - len(data))
        assert more, "the recording ended"
        data += more
    return data


# A second of each pitch's cosine and sine, to measure it by.
WAVES = {f: ([math.cos(2 * math.pi * f * i / RATE) for i in range(RATE)],
             [math.sin(2 * math.pi * f * i / RATE) for i in range(RATE)]) for f in PITCHES}


def strength(samples, pitch):
    # The tone's amplitude in a second of samples (one bin of a discrete Fourier transform).
    cos, sin = WAVES[pitch]
    return math.hypot(sum(map(float.__mul__, cos, map(float, samples))),
                      sum(map(float.__mul__, sin, map(float, samples))))


@pytest.mark.parametrize("name,args,encoder", FILES.values(), ids=FILES.keys())
def test_each_channel_comes_out_of_its_speaker(tmp_path, player, pulse, name, args, encoder):
    folder = tmp_path / "music"
    folder.mkdir()
    write_five_one(tmp_path / "five one.wav")
    if encoder:
        subprocess.run([a.format(src=tmp_path / "five one.wav", out=folder / name)
                        for a in encoder], check=True)
    else:
        (tmp_path / "five one.wav").rename(folder / name)
    ctl = ["pactl", "load-module", "module-null-sink", "sink_name=six", "channels=6",
           f"rate={RATE}", "channel_map=" + ",".join(SINK_ORDER)]
    subprocess.run(ctl, env=pulse.env, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["pactl", "set-default-sink", "six"], env=pulse.env, check=True)
    recorder = subprocess.Popen(["parec", "-d", "six.monitor", "--raw", "--format=s16le",
                                 f"--rate={RATE}", "--channels=6",
                                 "--channel-map=" + ",".join(SINK_ORDER)],
                                env=pulse.env, stdout=subprocess.PIPE)
    p = player(folder, args, env={**pulse.env, "AUDIODEV": "pulse"})
    p.expect(prompt(b"five one"))
    # A second from the middle of the tone, read at the pace the sink plays it.
    samples = array.array("h")
    first = None
    while first is None or len(samples) < first + 2 * RATE * 6:
        samples.frombytes(read_exactly(recorder.stdout, 4096 * 12))
        if first is None:
            first = next((i // 6 * 6 for i, v in enumerate(samples) if abs(v) > 300), None)
    recorder.kill()
    recorder.wait()
    p.send(b"exit\n")
    assert p.wait() == 1
    window = samples[first + RATE * 6 // 2: first + RATE * 6 * 3 // 2]
    for slot, speaker in enumerate(SINK_ORDER):
        loudness = {f: strength(window[slot::6], f) for f in PITCHES}
        heard = max(loudness, key=loudness.get)
        expected = PITCHES[FILE_ORDER.index(speaker)]
        assert heard == expected, f"{speaker} plays the {FILE_ORDER[PITCHES.index(heard)]} channel"
        # Alone: no other channel mixed in.
        assert sorted(loudness.values())[-2] < loudness[heard] / 10


# Streams a sound server may not take as they are: doubles, which it takes as floats, and a rate
# beyond its own, which is named. Made with sox; the words said on standard error, if any.
STREAMS = {
    "64-bit float wave": (["-e", "floating-point", "-b", "64", "-r", "44100"], None),
    "500 kHz wave": (["-r", "500000"], b'kestrova: cannot play "tone.wav": ALSA PCM "pulse" '
                                       b"takes no stream of 2 channels at 500000 Hz\n"),
}


@pytest.mark.parametrize("made,said", STREAMS.values(), ids=STREAMS.keys())
def test_a_stream_the_server_does_not_take_is_played_or_named(tmp_path, player, pulse, made, said):
    subprocess.run(["sox", "-n", *made, "-c", "2", str(tmp_path / "tone.wav"), "synth", "3",
                    "sine", "440", "vol", "0.5"], check=True)
    recorder = subprocess.Popen(["parec", "-d", "test.monitor", "--raw", "--format=s16le",
                                 "--channels=2"], env=pulse.env, stdout=subprocess.PIPE)
    p = player(tmp_path, env={**pulse.env, "AUDIODEV": "pulse"}, stderr=subprocess.PIPE)
    p.expect(prompt(b"tone"))
    if said:
        assert read_until(p.proc.stderr.fileno(), b"\n") == said
    else:
        # Heard at its level within ten seconds of the sink's: half the full scale peaks near 16384.
        chunks = (array.array("h", read_exactly(recorder.stdout, 4410 * 4)) for _ in range(100))
        assert any(max(chunk) > 12000 for chunk in chunks)
    recorder.kill()
    recorder.wait()
    p.send(b"exit\n")
    assert p.wait() == 1
