#!/usr/bin/env bash
# Runs quillmere-tiles under valgrind's memcheck for a conversion, a short map and a failure:
# each must exit as usual with no memory error and no leak.
set -euo pipefail
tiles=$1
sample_map=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$sample_map" Map.LVL
head -c 1000 Map.LVL > Short.LVL

check() {
    local expected=$1 name=$2
    shift 2
    local status=0
    valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=all --log-file="$work/valgrind.log" "$tiles" "$@" \
        >"$work/out.txt" 2>&1 || status=$?
    if [ "$status" != "$expected" ] || [ -s "$work/valgrind.log" ]; then
        echo "$name: exit status $status (expected $expected)"
        cat "$work/valgrind.log"
        exit 1
    fi
    echo "$name: no errors"
}
check 0 conversion Map.LVL Tiles.BMP
check 0 "short map" Short.LVL Short.BMP
check 1 failure Missing.LVL Missing.BMP
check 0 batch -d . Map.LVL Short.LVL
