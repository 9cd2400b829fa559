#!/usr/bin/env bash
# Unpacks the Windows release zip and runs both of its programs under Wine: quillmere-tiles.exe
# converts a map, and the window, on an Xvfb display with its real message boxes, is driven from
# the keyboard: Tab to Convert, Space, the completion box found by its title and closed, Alt+X.
# Every wait has a time limit: a cold Wine start has been seen to hang about once in thirty.
set -euo pipefail
wine=$1 zip=$2 sample_map=$3 prefix=$4 objdump=$5
shift 5
expected_files=("$@")

work=$(mktemp -d)
: >"$work/empty"
noise=$work/noise.log # what Wine and xdotool mutter, kept out of the test's output
xvfb_pid=
wineserver=$(dirname "$wine")/wineserver
cleanup() {
    WINEPREFIX=$prefix timeout 30 "$wineserver" -k 2>>"$noise" || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>>"$noise" || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

# A display of its own, before Wine first starts: Xvfb picks a free number and writes it
# down, unless QUILLMERE_TEST_DISPLAY names one (say 110).
if [ -n "${QUILLMERE_TEST_DISPLAY:-}" ]; then
    Xvfb ":$QUILLMERE_TEST_DISPLAY" -screen 0 800x600x24 -nolisten tcp >>"$noise" 2>&1 &
    echo "$QUILLMERE_TEST_DISPLAY" >"$work/display.txt"
else
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display.txt" >>"$noise" 2>&1 &
fi
xvfb_pid=$!
for _ in $(seq 300); do
    [ -s "$work/display.txt" ] && break
    sleep 0.1
done
[ -s "$work/display.txt" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display.txt")
for _ in $(seq 100); do
    xdotool getdisplaygeometry >>"$noise" 2>&1 && break
    sleep 0.1
done

# The window's own frames (Managed=N): with no window manager, Wine draws them itself, their
# glyphs from fonts-wine's Marlett, which Debian's Wine finds only in the prefix's font folder.
export WINEPREFIX=$prefix WINEDEBUG=-all LC_ALL=C.UTF-8
if [ ! -f "$prefix/.quillmere-ready" ]; then
    for attempt in 1 2 3; do
        rm -rf "$prefix"
        timeout 300 "$wine" wineboot --init <"$work/empty" >>"$noise" 2>&1 &&
            timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
                <"$work/empty" >>"$noise" 2>&1 &&
            cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" &&
            touch "$prefix/.quillmere-ready" && break
        echo "Wine did not start (attempt $attempt); once more"
        timeout 30 "$wineserver" -k 2>>"$noise" || true
    done
fi

cd "$work"
cmake -E tar xf "$zip"
folder=$(basename "$zip" .zip)
for file in "${expected_files[@]}"; do
    [ -f "$folder/$file" ] || fail "$file is not in $(basename "$zip")"
done
unexpected=$(cd "$folder" && ls -A | grep -vxF "$(printf '%s\n' "${expected_files[@]}")" || true)
[ -z "$unexpected" ] || fail "unexpected files in the zip: $unexpected"
echo "zip holds: ${expected_files[*]}"
# Its text files end their lines as Notepad expects, on every Windows: CR LF, never LF alone.
for text in "$folder"/*.md "$folder"/*.txt; do
    ! grep -q $'[^\r]$\|^$' "$text" || fail "$(basename "$text") has a line end without CR"
done

# Every DLL the programs import comes with Windows itself.
system_dlls='kernel32|user32|gdi32|shell32|advapi32|ole32|comctl32|bcrypt|ntdll|msvcrt'
for program in "$folder"/*.exe; do
    imports=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p')
    [ -n "$imports" ] || fail "no imports read from $program"
    foreign=$(grep -viE "^($system_dlls)\.dll\$" <<<"$imports" || true)
    [ -z "$foreign" ] || fail "$(basename "$program") imports $foreign"
done
echo "imports only Windows' own DLLs: ok"

timeout 120 "$wine" "$sample_map" Map.LVL <empty 2>>"$noise"
head -c 49713 Map.LVL >expected.BMP
timeout 120 "$wine" "$folder/quillmere-tiles.exe" Map.LVL Cli.BMP <empty >cli.txt 2>>"$noise"
grep -q "Map.LVL -> Cli.BMP: Operation Complete." cli.txt || fail "quillmere-tiles said: $(cat cli.txt)"
cmp -s Cli.BMP expected.BMP || fail "quillmere-tiles.exe wrote a wrong tile set"
echo "quillmere-tiles.exe from the zip: ok"

# Waits until a window with exactly this title is there, and prints its id.
window_titled() {
    timeout "$2" xdotool search --sync --onlyvisible --name "^$1\$" 2>>"$noise" | head -n 1
}

for attempt in 1 2 3; do
    "$wine" "$folder/quillmere-tile-converter.exe" <empty >>"$noise" 2>&1 &
    window_pid=$!
    main=$(window_titled "QuillMere Tile Converter" 60) && [ -n "$main" ] && break
    echo "The window did not appear (attempt $attempt); once more"
    kill "$window_pid" 2>>"$noise" || true
    timeout 30 "$wineserver" -k 2>>"$noise" || true
    main=
done
[ -n "$main" ] || fail "the window never appeared"

# Focus starts in the map box: Tab reaches Convert, and Space presses it.
timeout 10 xdotool windowfocus --sync "$main"
xdotool key --delay 100 Tab space
box=$(window_titled "Map.LVL -> Tiles.BMP" 30) && [ -n "$box" ] || fail "no completion box"
cmp -s Tiles.BMP expected.BMP || fail "Tiles.BMP is not the map's first 49,713 bytes"
echo "Convert from the keyboard, box titled \"Map.LVL -> Tiles.BMP\": ok"

# Waits up to $2 tenths of a second for the command $1 to fail.
until_gone() {
    for _ in $(seq "$2"); do
        eval "$1" >>"$noise" 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

timeout 10 xdotool windowfocus --sync "$box"
xdotool key Return
until_gone "xdotool search --onlyvisible --name '^Map.LVL -> Tiles.BMP\$'" 100 ||
    fail "the box stayed"

timeout 10 xdotool windowfocus --sync "$main"
xdotool key alt+x
until_gone "kill -0 $window_pid" 300 || fail "Alt+X did not end the program"
status=0
wait "$window_pid" || status=$?
[ "$status" = 0 ] || fail "the program ended with status $status"
echo "Alt+X ended the program with status 0: ok"
