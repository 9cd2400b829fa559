#!/usr/bin/env bash
# Runs the Windows quillmere-tiles.exe under Wine the way a script would: one conversion, a
# short map, a failure, a usage error and a batch; wildcards typed in cmd.exe, and what a
# console shows of the reports.
set -euo pipefail
wine=$1
tiles=$2
sample_map=$3
console_screen=$4 # runs a command in a console of its own and saves what the console shows
pictures=$(cd "$(dirname "$0")/pictures" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export WINEDEBUG=-all LC_ALL=C.UTF-8 # Wine takes arguments in the locale's encoding

fail() { echo "FAILED: $*"; exit 1; }
run() { # expected-status stdout-file stderr-file arguments...
    local expected=$1 out=$2 err=$3 status=0
    shift 3
    "$wine" "$tiles" "$@" >"$out" 2>"$err" <"$work/empty" || status=$?
    [ "$status" = "$expected" ] || fail "quillmere-tiles $* exited $status, not $expected: $(cat "$err")"
}

: >"$work/empty"
"$wine" "$sample_map" Map.LVL <"$work/empty"
head -c 49713 Map.LVL > expected.BMP

run 0 out.txt err.txt Map.LVL Tiles.BMP
grep -q "Map.LVL -> Tiles.BMP: Operation Complete." out.txt || fail "no completion line: $(cat out.txt)"
cmp -s Tiles.BMP expected.BMP || fail "Tiles.BMP is not the map's first 49,713 bytes"
echo "conversion: ok"

head -c 1000 Map.LVL > Short.LVL
run 0 out.txt err.txt Short.LVL Short.BMP
grep -q "held only 1,000 of the tile set's 49,713 bytes" err.txt || fail "no short-map warning: $(cat err.txt)"
[ "$(stat -c %s Short.BMP)" = 49713 ] || fail "Short.BMP is not 49,713 bytes"
echo "short map: ok"

cp Tiles.BMP before.BMP
run 1 out.txt err.txt Missing.LVL Tiles.BMP
grep -q 'Could not read the map file "Missing.LVL": ' err.txt || fail "no failure sentence: $(cat err.txt)"
[ ! -e Missing.LVL ] || fail "the missing map was created"
cmp -s Tiles.BMP before.BMP || fail "a failed conversion changed the old output"
run 1 out.txt err.txt Map.LVL Map.LVL
grep -q "map file itself" err.txt || fail "same file not refused: $(cat err.txt)"
cmp -s <(head -c 49713 Map.LVL) expected.BMP && [ "$(stat -c %s Map.LVL)" -gt 49713 ] ||
    fail "the map was changed"
echo "failures: ok"

# Pictures as ImageMagick, Pillow and netpbm saved the sample tile set with the pixel (5, 7) made
# the colour of (20, 40): only that pixel's bytes change, in a 24-bit and in an 8-bit map.
"$wine" "$sample_map" --8-bit Map8.LVL <"$work/empty"
cp "$pictures"/* .
put_back() { # picture map expected-cmp-l
    cp "$2" Edited.LVL
    run 0 out.txt err.txt --put "$1" Edited.LVL
    [ "$(cmp -l "$2" Edited.LVL | tr -s ' \n' ' ')" = "$3" ] ||
        fail "$1 into $2: $(cmp -l "$2" Edited.LVL | head -5)"
}
for picture in imagemagick_palette.png imagemagick_rle8.bmp pillow_rgb.png; do
    put_back "$picture" Map.LVL "46657 0 60 46658 231 124 46659 114 314 "
    put_back "$picture" Map8.LVL "16444 1 56 "
done
cp Map.LVL Edited.LVL
run 1 out.txt err.txt --put netpbm_16x16.bmp Edited.LVL
grep -q "is 16 x 16 pixels, but the tile set in the map file \"Edited.LVL\" is 128 x 128. Save it at 128 x 128 pixels." err.txt ||
    fail "no size refusal: $(cat err.txt)"
cmp -s Map.LVL Edited.LVL || fail "a refused picture changed the map"
echo "pictures put back: ok"

run 2 out.txt err.txt --frobnicate
grep -q "unknown option" err.txt || fail "no usage error"
echo "usage error: ok"

mkdir maps out
cp Map.LVL maps/Castle.LVL
cp Short.LVL maps/Cave.LVL
run 1 out.txt err.txt -d out maps/Castle.LVL maps/Missing.LVL maps/Cave.LVL
cmp -s out/Castle.BMP expected.BMP || fail "out/Castle.BMP is wrong"
[ "$(stat -c %s out/Cave.BMP)" = 49713 ] || fail "out/Cave.BMP is wrong"
[ "$(ls -A out | wc -l)" = 2 ] || fail "unexpected files in out: $(ls -A out)"
echo "batch: ok"

grep -q longPathAware "$tiles" || fail "quillmere-tiles.exe carries no manifest with longPathAware"
deep=$(printf 'd%.0s' {1..60})
deep=$deep/$deep/$deep/$deep/$deep
mkdir -p "$deep"
run 0 out.txt err.txt Map.LVL "$deep/Tiles.BMP"
[ ${#deep} -gt 300 ] && cmp -s "$deep/Tiles.BMP" expected.BMP || fail "the ${#deep}-character path"
echo "long path: ok"

# Windows folds case, also beyond ASCII: É.BMP and é.BMP are one output there.
mkdir m1 m2 folded
cp Map.LVL m1/É.LVL
cp Short.LVL m2/é.LVL
run 1 out.txt err.txt -d folded m1/É.LVL m2/é.LVL
grep -q "m1/É.LVL -> folded\\\\É.BMP: Operation Complete." out.txt || fail "É.LVL: $(cat out.txt)"
grep -q "é.BMP\": an earlier map in this run wrote it already" err.txt || fail "é.LVL: $(cat err.txt)"
[ "$(ls -A folded)" = É.BMP ] && cmp -s folded/É.BMP expected.BMP || fail "folded: $(ls -A folded)"
echo "outputs that fold to one name: ok"

# cmd.exe leaves wildcards to the program: they stand for the files they match, sorted as a
# folder lists them; a pattern that matches nothing is named as such. A path the program
# builds has Windows' separator; one the person typed stays as typed.
mkdir wild wild/Sub.LVL wout
for name in cave.LVL Berry.LVL apple.LVL A.txt; do cp Map.LVL "wild/$name"; done
cp "$tiles" quillmere-tiles.exe
status=0
"$wine" cmd /c 'quillmere-tiles.exe -d wout wild\*.LVL wild/?.txt wild\None*.LVL' \
    >out.txt 2>err.txt <"$work/empty" || status=$?
[ "$status" = 1 ] || fail "the wildcard batch exited $status: $(cat err.txt)"
[ "$(tr -d '\r' <out.txt)" = 'wild\apple.LVL -> wout\apple.BMP: Operation Complete.
wild\Berry.LVL -> wout\Berry.BMP: Operation Complete.
wild\cave.LVL -> wout\cave.BMP: Operation Complete.
wild/A.txt -> wout\A.BMP: Operation Complete.' ] || fail "the wildcard batch: $(cat out.txt)"
grep -q 'Could not read the map file "wild\\None\*.LVL"' err.txt || fail "no match: $(cat err.txt)"
[ "$(ls -A wout | tr '\n' ' ')" = "A.BMP Berry.BMP apple.BMP cave.BMP " ] || fail "wout: $(ls -A wout)"
status=0
"$wine" cmd /c 'quillmere-tiles.exe wild\a*.LVL one.BMP' >out.txt 2>err.txt <"$work/empty" || status=$?
[ "$status" = 0 ] && grep -q 'wild\\apple.LVL -> one.BMP: Operation Complete.' out.txt ||
    fail "one map from a pattern: $(cat out.txt err.txt)"
"$wine" cmd /c 'quillmere-tiles.exe wild\*.LVL one.BMP' >out.txt 2>err.txt <"$work/empty" || status=$?
[ "$status" = 2 ] && grep -q "names 3 maps" err.txt || fail "a pattern for several maps: $(cat err.txt)"
echo "wildcards and separators: ok"

# A console is written in wide characters and its progress line cleared with spaces; a pipe
# gets UTF-8.
cp Map.LVL é.LVL
mkdir console pipe
"$wine" "$console_screen" screen.txt 'quillmere-tiles.exe -d console maps\Castle.LVL é.LVL' \
    <"$work/empty" || fail "the run in a console failed"
[ "$(cat screen.txt)" = 'maps\Castle.LVL -> console\Castle.BMP: Operation Complete.
é.LVL -> console\é.BMP: Operation Complete.' ] || fail "the console shows: $(cat -A screen.txt)"
run 0 out.txt err.txt -d pipe é.LVL
[ "$(tr -d '\r' <out.txt)" = 'é.LVL -> pipe\é.BMP: Operation Complete.' ] ||
    fail "the pipe has: $(cat -A out.txt)"
echo "console and pipe: ok"

mkdir twice
run 0 out.txt err.txt -d twice maps/Castle.LVL ./maps/Castle.LVL
[ "$(ls -A twice)" = Castle.BMP ] && cmp -s twice/Castle.BMP expected.BMP || fail "the same map twice"
echo "the same map twice: ok"

cp twice/Castle.BMP linked.BMP
ln linked.BMP other-name.BMP
run 0 out.txt err.txt maps/Cave.LVL linked.BMP
grep -q "1 other name (a hard link), which still holds the old tile set" err.txt ||
    fail "no hard-link warning: $(cat err.txt)"
cmp -s other-name.BMP expected.BMP && ! cmp -s linked.BMP expected.BMP || fail "the hard link"
echo "an output with another name: ok"

# Many maps, so that a run is still converting when it is stopped.
mkdir many
for n in $(seq 1 300); do cp Short.LVL "many/Level$n.LVL"; done
start_many() { # output folder
    rm -rf "$1" && mkdir "$1"
    "$wine" "$tiles" -d "$1" many/*.LVL >out.txt 2>err.txt <"$work/empty" &
    pid=$!
    while [ "$(ls "$1" | wc -l)" -lt 20 ] && kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
}
temporaries() { ls -A "$1" | grep -c '\.part$' || true; }

start_many stopped
kill -INT "$pid"
status=0 && wait "$pid" || status=$?
[ "$status" = 130 ] || fail "Ctrl+C ended the run with $status, not 130"
grep -q "interrupted by Ctrl+C; every output is whole" err.txt || fail "no interrupt line: $(cat err.txt)"
[ "$(temporaries stopped)" = 0 ] || fail "Ctrl+C left temporaries: $(ls -A stopped | grep part)"
echo "Ctrl+C: ok"

# Standard output and error on a full pipe that is never read (a stalled `| tee`): the run
# waits in a write when Ctrl+C comes, and still ends within a second.
mkfifo full
exec 3<>full
timeout 1 cat Map.LVL Map.LVL >&3 || true
rm -rf stalled && mkdir stalled
# timeout passes Ctrl+C on, and ends a run that does not end.
timeout -s KILL 10 "$wine" "$tiles" -d stalled many/*.LVL >&3 2>&3 <"$work/empty" &
pid=$!
while [ -z "$(ls stalled)" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
sleep 0.5
asked=$(date +%s%N)
kill -INT "$pid"
status=0 && wait "$pid" || status=$?
took=$((($(date +%s%N) - asked) / 1000000))
exec 3<&-
[ "$status" = 130 ] && [ "$took" -lt 1000 ] || fail "Ctrl+C on a full pipe: status $status after $took ms"
[ "$(temporaries stalled)" = 0 ] || fail "Ctrl+C on a full pipe left temporaries"
echo "Ctrl+C on a full pipe: ok ($took ms)"

for round in 1 2 3; do
    start_many killed
    kill -KILL "$pid"
    wait "$pid" || true
    : >killed/.level2.bmp.quillmere-0.part # as a run killed before marking it for deletion leaves
    : >killed/.Level2.BMP.ab12cd34.part    # not of our making: it stays
    # The next run writing the same outputs looks up their temporaries' names and removes them.
    run 0 out.txt err.txt -d killed many/*.LVL
    [ "$(temporaries killed)" = 1 ] || fail "a killed run's temporaries stayed: $(ls -A killed | grep part)"
done
echo "temporaries of killed runs: ok"
