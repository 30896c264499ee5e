# What a real terminal shows: typed words echoed and edited, keys that are not words, pipes, texts.
import os

import pytest
from conftest import listing, prompt

NAMES = [b"a", b"b", b"c"]
LS = b"\n" + listing(NAMES) + prompt(b"a")

# Each burst arrives in one write, as a paste does, and ends in a line that says "ls", however it
# got there: the listing must follow. The echo, where given, is what the terminal must show of it.
BURSTS = [
    ("erase", b"lx\x7fs\n", b"lx\b \bs\n"),
    ("backspace", b"lx\bs\n", b"lx\b \bs\n"),
    ("kill line", b"garbage\x15ls\n", b"garbage" + b"\b \b" * 7 + b"ls\n"),
    ("word erase", b"one two\x17\x17ls\n", b"one two" + b"\b \b" * 7 + b"ls\n"),
    ("multibyte letter rubbed out whole", "lé\x7fs\n".encode(), "lé\b \bs\n".encode()),
    ("wide letter rubbed out over two columns", "l曲\x7fs\n".encode(), "l曲\b \b\b \bs\n".encode()),
    ("undecodable byte, one at a time", b"\xffx\x7f\x7fls\n", b"\xffx" + b"\b \b" * 2 + b"ls\n"),
    ("arrow keys", b"\x1b[A\x1b[B\x1bOAls\n", b"ls\n"),
    # An escape sequence cut short must not swallow the Enter after it, nor the next word.
    ("unfinished CSI", b"qq\x1b[\nls\n", b"qq\nls\n"),
    ("lone ESC", b"qq\x1b\nls\n", b"qq\nls\n"),
    ("CSI with parameters", b"\x1b[1;5D\x1b[200~pasted\x1b[201~\nls\n", b"pasted\nls\n"),
    ("NUL and C0 bytes", b"\0\x01\x02\x04\x05\x06\x07zz\nls\n", b"zz\nls\n"),
    ("overlong word", b"w" * 5000 + b"\nls\n", None),
]


@pytest.mark.parametrize("keys,echo", [b[1:] for b in BURSTS], ids=[b[0] for b in BURSTS])
def test_editing_and_stray_keys_leave_the_next_word_intact(folder, player, keys, echo):
    p = player(folder([n.decode() + ".wav" for n in NAMES]), env={"LC_ALL": "C.UTF-8"})
    p.expect(b"~$ ")
    p.send(keys)
    if echo is not None:
        p.expect_next(echo)
    p.expect(LS)
    assert b"\x1b" not in p.seen, "a typed escape was echoed"


def test_stop_waits_for_one_key_that_is_neither_echoed_nor_kept(folder, player):
    # A key that sends a sequence of bytes is still one key, and the word after it is whole.
    p = player(folder(["a.wav", "b.wav", "c.wav"]))
    p.expect(b"~$ ")
    p.send(b"stop\n")
    p.expect_next(b"stop\n")
    p.send(b"\x1b[Als\n")
    p.expect_next(b"\n" + prompt(b"b") + b"ls\n" + b"\n" + listing(NAMES) + prompt(b"b"))


def test_from_a_pipe_stop_waits_for_the_byte_after_its_line_and_the_end_changes_nothing(
        folder, player):
    # From a pipe a word waits for its line, and the line end after "stop" belongs to it. Once the
    # pipe has ended the player plays on. The words land inside the first track, held 1 to 2 s.
    read_end, write_end = os.pipe()
    p = player(folder(["a.wav", "b.wav"], seconds=1), stdin=read_end)
    os.close(read_end)
    p.expect(prompt(b"a"))
    os.write(write_end, b"stop\nxls\n")
    os.close(write_end)
    p.expect_next(b"\n" + prompt(b"b") + b"\n" + listing([b"a", b"b"]) + prompt(b"b"))
    p.expect(prompt(b"a"))
    p.expect(prompt(b"b"))
    assert p.proc.poll() is None


@pytest.mark.parametrize("locale,charset", [("C", "utf-8"), ("ja_JP.UTF-8", "utf-8"),
                                            ("ja_JP.SJIS", "shift_jis")])
def test_an_unknown_help_word_is_refused_in_the_locales_charset(folder, player, locale, charset):
    p = player(folder(["song.wav"]), env={"LC_ALL": locale})
    p.expect(prompt(b"song"))
    p.send(b"help zzz\n")
    # The refusal has no line end: the prompt follows on its line.
    refusal = "コマンドが無効です。".encode(charset)
    p.expect_next(b"help zzz\nplease type to cmd ~$" + refusal + prompt(b"song"))
