#!/bin/sh
# Types commands at kestrova.exe in a real Wine console window and checks what it then writes
# and its exit status, one fresh run per row of the table at the end.
# usage: windows-console.sh KESTROVA_EXE, with WINEPREFIX a prepared prefix and DISPLAY an X
# server (wineconsole opens its window there, and xdotool types into it).
set -euf
exe=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-console.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/music" "$work/empty"
cp "$exe" "$work/kestrova.exe"

# Silence at 8 kHz, 8-bit mono: $2 milliseconds of it as the RIFF WAVE file $1.
le32() {
    # shellcheck disable=SC2059 # the octal escapes are the format
    printf "$(printf '\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)))"
}
wave() {
    n=$(($2 * 8))
    {
        printf RIFF && le32 $((36 + n)) && printf 'WAVEfmt ' && le32 16 && printf '\1\0\1\0'
        le32 8000 && le32 8000 && printf '\1\0\10\0data' && le32 $n
        head -c $n /dev/zero | tr '\0' '\200'
    } >"$work/music/$1"
}
# Whole seconds 30, 20 and 2: a length rounded up, or taken in bytes, shows in the time display.
# No row waits for the first two to end; the third is short enough to be waited for.
wave first.wav 30600
wave second.WAV 20600
wave third.wav 2600
: >"$work/music/notes.txt"

# Polls until the command succeeds; a minute without success is a hang.
await() {
    end=$(($(date +%s) + 60))
    until "$@"; do
        [ "$(date +%s)" -lt "$end" ] || return 1
        sleep 0.2
    done
}
# A key that ends the program closes the window under xdotool's feet; the output tells the rest.
x() { xdotool "$@" 2>/dev/null || true; }
# The Japanese texts are read back from their Shift-JIS bytes.
shows() {
    out=$(iconv -f CP932 -t UTF-8 "$dir/out.txt" 2>/dev/null; echo .)
    # shellcheck disable=SC2254 # the row's pattern is a pattern
    case ${out%.} in $pattern) ;; *) return 1 ;; esac
}
gone() { ! kill -0 "$pid" 2>/dev/null; }
fail() {
    echo "console row '$keys' in $folder: $1; the program wrote:" >&2
    cat -v "$dir/out.txt" >&2 || true
    exit 1
}

# The listing comes in the order of Wine's folder search, which sorts by name. Line ends are
# CR LF, written \r\n in the table, for printf to turn into bytes.
n='\r\n'
F='KestrovaSonvane~ first~$ '
S='KestrovaSonvane~ second~$ '
T='KestrovaSonvane~ third~$ '
no_sound="kestrova: no sound: there is no wave output device; connect or enable one in Windows' sound settings"
# Folder; keys (each word typed and then Enter, <k> the key k alone); exit status (none: the row
# ends with exit); what the whole output must then match, as a shell pattern. Output goes to a
# file, so the Japanese texts must arrive there as their Shift-JIS bytes.
while IFS=';' read -r folder keys status pattern; do
    dir=$work/$folder
    # shellcheck disable=SC2059 # \r\n in the table become CR LF
    pattern=$(printf "$pattern.")
    pattern=${pattern%.}
    rm -f "$dir/out.txt" "$dir/err.txt" "$dir/rc.txt" "$dir/trace.txt"
    # Wine's trace of MCI goes to the Unix standard error that the program inherits.
    (cd "$dir" && WINEDEBUG=-all,trace+mci exec wineconsole cmd /c \
        "title kestrova& ..\\kestrova.exe > out.txt 2> err.txt & call echo %^errorlevel% > rc.txt") \
        >/dev/null 2>"$dir/trace.txt" &
    pid=$!
    await test -s "$dir/out.txt" || fail "no output"
    # The program changes the console title for a moment at start-up; it must set it back.
    win=$(await xdotool search --limit 1 --name '^kestrova$') || fail "the console title stays changed"
    for k in $keys; do
        case $k in
        \<*\>) k=${k#<} && x key --window "$win" "${k%>}" ;;
        *) x type --window "$win" "$k" && x key --window "$win" Return ;;
        esac
    done
    await shows || fail "not the output expected"
    status=${status%% *}
    if [ -z "$status" ]; then
        x type --window "$win" exit && x key --window "$win" Return
        status=1
    fi
    await gone || fail "still running"
    rc=$(tr -dc 0-9 <"$dir/rc.txt")
    [ "$rc" = "$status" ] || fail "exit status $rc, not $status"
    # Wine has no wave device here: a run that plays says so once, and one that does not is silent.
    said=""
    [ "$folder" = music ] && said=$(printf '%s\r\n' "$no_sound")
    [ "$(cat "$dir/err.txt")" = "$said" ] || fail "standard error: $(cat -v "$dir/err.txt")"
    # pause sends MCI's pause, then its resume, without flags or a record, to the device that plays.
    case $keys in
    pause*)
        calls=$(sed -n 's/.*mciSendCommandA (\([0-9a-f]*, MCI_[A-Z]*, [0-9a-f]*, [0-9a-f]*\)).*/\1;/p' \
            "$dir/trace.txt" | tr -d '\n')
        id=${calls%%, MCI_PLAY,*}
        id=${id##*;}
        case $calls in
        *"$id, MCI_PLAY, 00000005, "*";$id, MCI_PAUSE, 00000000, 00000000;$id, MCI_RESUME, 00000000, 00000000;"*) ;;
        *) fail "MCI was sent: $calls" ;;
        esac
        ;;
    esac
done <<EOF
empty;<Return>     ;1;There are no mp3s.$n
music;next time    ; ;*$F$n$S${n}0 min ? sec / 0 min 20 sec$n>*
music;before       ; ;*$F$n$T*
music;2            ; ;*$F$n$T$n$F
music;9            ; ;*$F$n$F*
music;ls           ; ;*$F${n}0 | first${n}1 | second${n}2 | third$n$F
music;time         ; ;*$F${n}0 min ? sec / 0 min 30 sec$n>*$n$F
music;help ls      ; ;*${F}please type to cmd ~\$全曲一覧を表示します$n$F
music;help nope    ; ;*${F}please type to cmd ~\$コマンドが無効です。$F
music;help pause   ; ;*${F}please type to cmd ~\$再生を一時停止します。何かキーを押すと同じ曲の続きから再生します。$n$F
music;2 loop       ; ;*$T$T$n$T*
music;shuffle      ; ;*$F$F
music;2 alloop     ;0;*$T$T
music;stop <x> time; ;*$F$n$S${n}0 min ? sec / 0 min 20 sec$n>*
music;pause <x> time; ;*$F$F${n}0 min ? sec / 0 min 30 sec$n>*
music;exit         ;1;*$F
music;50           ;0;*$F
EOF
echo "windows console: all rows passed"
