# The folder search through the real player: the wave files, or with -a every playable file, in the
# volume's name order, letters compared without case, the first 50 of them, in a folder of any
# size.
import random
import re

import pytest

TRACKS = [f"track {i:02}.wav" for i in range(1, 61)]

MIXED = ["b.MP3", "a.flac", "C.Opus", "d.txt", "e.wav", "f.OGG", "g.oga", "h.wave", "i.mp3.bak",
         "j.AIF", "k.aiff", "l.Mp2", "m.mpga", "n.aifc", "o.M4a", "p.m4b", "q.AAC", "r.wma",
         "s.Wv", "t.webm", "u.MKA", "v.ape", "w.mkv"]

# Names created in this order, the names listed, and the options. Upper-casing puts '_' after the
# letters and bytes above 0x7f after both; names that differ only in case follow their own bytes.
ORDERS = {
    "60 shuffled: the first 50 by name": (random.Random(7).sample(TRACKS, 60), TRACKS[:50], []),
    "upper-cased, not lower-cased": (["_a.wav", "b.wav", "z.wav", "é.wav"],
                                     ["b.wav", "z.wav", "_a.wav", "é.wav"], []),
    "differing only in case": (["ab.wav", "Ab.wav", "aB.wav", "AB.wav"],
                               ["AB.wav", "Ab.wav", "aB.wav", "ab.wav"], []),
    "-a: every playable format, one name order": (
        MIXED, ["a.flac", "b.MP3", "C.Opus", "e.wav", "f.OGG", "g.oga", "j.AIF", "k.aiff", "l.Mp2",
                "m.mpga", "o.M4a", "p.m4b", "q.AAC", "r.wma", "s.Wv", "t.webm", "u.MKA", "v.ape"],
        ["-a"]),
}


def names(p):
    # The listed names, read up to the first prompt.
    return re.findall(rb"^\d+ *\| (.*)$", p.expect(b"~$ "), re.M)


@pytest.mark.parametrize("created,listed,args", ORDERS.values(), ids=ORDERS.keys())
def test_tracks_are_listed_in_name_order(tmp_path, player, created, listed, args):
    for name in created:
        (tmp_path / name).touch()
    p = player(tmp_path, args)
    assert names(p) == [n.rsplit(".", 1)[0].encode() for n in listed]


def peak_kib(p):
    # The player's peak resident memory, read at its first prompt.
    p.expect(b"~$ ")
    return int(open(f"/proc/{p.proc.pid}/status").read().split("VmHWM:")[1].split()[0])


def test_a_folder_of_10000_entries_costs_no_memory_for_the_names_left_out(tmp_path, player):
    # Long names, 7,500 of them wave files in assorted letter cases among near misses: the
    # first 50 by name are listed, and the 1.8 MiB of names left out take no memory beyond what a
    # folder of those 50 alone takes.
    big, small = tmp_path / "big", tmp_path / "small"
    big.mkdir(), small.mkdir()
    pad = "x" * 240
    waves = [f"t{i:04}{pad}{('.wav', '.WAV', '.Wav')[i % 3]}" for i in range(7500)]
    for i, name in enumerate(random.Random(3).sample(waves, len(waves))):
        (big / name).touch()
        if i % 3 == 0:
            (big / f"o{i}{pad}{('.txt', '.wav.bak', '.wavx', '.mp3', 'wav')[i % 5]}").touch()
    for name in waves[:50]:
        (small / name).touch()
    p = player(big)
    assert names(p) == [n[:-4].encode() for n in waves[:50]]
    assert peak_kib(p) - peak_kib(player(small)) < 1024
