#!/usr/bin/env bash
# Runs the Windows quillmere-tiles.exe under Wine the way a script would: one conversion, a
# short map, a failure, a usage error and a batch.
set -euo pipefail
wine=$1
tiles=$2
sample_map=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export WINEDEBUG=-all

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
