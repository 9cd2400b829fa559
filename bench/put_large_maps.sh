#!/usr/bin/env bash
# Puts an edited tile set back into two large maps, a 1 GiB sparse one and a 200 MiB dense one,
# and prints time, peak memory and the blocks each map takes before and after, beside a
# `cp --reflink=auto --sparse=always` + `dd` + `mv` of the same map for scale. Run from run.sh,
# or alone: bench/put_large_maps.sh BUILD_DIR [ROUNDS].
set -euo pipefail
build=$1
rounds=${2:-5}
tiles=$build/src/cli/quillmere-tiles
sample=$build/tools/quillmere-sample-map
work=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-put-bench.XXXXXX")
main=$BASHPID
trap '[ "$BASHPID" = "$main" ] && rm -rf "$work"' EXIT
cd "$work"

"$sample" sample.LVL >/dev/null
"$tiles" sample.LVL Tiles.BMP >/dev/null
# One pixel edited, as a person would: the last byte of the tile set's pixels.
printf '\x7f' | dd of=Tiles.BMP bs=1 seek=49712 conv=notrunc status=none

make_map() { # NAME KIND
    cp sample.LVL "$1"
    if [ "$2" = sparse ]; then
        # Level data at the start and in the middle, holes between and at the end.
        head -c 4M /dev/urandom | dd of="$1" bs=1M seek=512 conv=notrunc status=none
        truncate -s 1G "$1"
    else
        head -c 200M /dev/urandom >>"$1"
    fi
    sync -f "$1"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
kib() { echo $(($(stat -c '%b * %B' "$1") / 1024)); }

printf '| Map | Blocks before | quillmere-tiles --put: time, median of %s | peak memory | blocks after | cp + dd + mv: time | blocks after |\n' "$rounds"
printf '|---|---|---|---|---|---|---|\n'
for kind in sparse dense; do
    make_map ours.LVL "$kind"
    cp --sparse=always ours.LVL theirs.LVL
    before=$(kib ours.LVL)
    : >ours.times
    : >theirs.times
    for ((round = 0; round < rounds; round++)); do
        sync
        /usr/bin/time -f '%e %M' -o ours.run "$tiles" --put Tiles.BMP ours.LVL >/dev/null
        read -r seconds memory <ours.run
        echo "$seconds" >>ours.times
        echo "$memory" >>ours.memory
        sync
        /usr/bin/time -f '%e' -a -o theirs.times sh -c \
            'cp --reflink=auto --sparse=always theirs.LVL new.LVL &&
             dd if=Tiles.BMP of=new.LVL bs=49713 count=1 conv=notrunc,fsync status=none &&
             mv new.LVL theirs.LVL'
    done
    cmp -n 49713 ours.LVL Tiles.BMP
    cmp ours.LVL theirs.LVL
    printf '| %s | %s KiB | %s s | %s KiB | %s KiB | %s s | %s KiB |\n' "$kind, $(($(stat -c %s ours.LVL) >> 20)) MiB" \
        "$before" "$(median <ours.times)" "$(sort -g ours.memory | tail -1)" "$(kib ours.LVL)" \
        "$(median <theirs.times)" "$(kib theirs.LVL)"
    rm -f ours.LVL theirs.LVL ours.memory
done
