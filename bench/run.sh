#!/usr/bin/env bash
# Builds a Release configuration and prints one markdown table that compares quillmere-tiles,
# RipBMP and the window with the least a safe conversion must do and with what a person could
# use instead. --quick for a shorter run.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

ensure_packages "${build_packages[@]}" xvfb xauth
build=$repo/build/bench
configure_and_build "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUILLMERE_BUILD_BENCH=ON

# A display of its own for the start-up measure under X: the first free one from a random start.
number=$((90 + RANDOM % 100))
while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
    number=$((number + 1))
done
display=:$number
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$build/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1

echo "$(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(df -T "${TMPDIR:-/tmp}" | awk 'NR==2 {print $2}') temporary folder"
# Other work on the machine shows in the spreads; its load is printed before and after.
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "Load average (1, 5, 15 minutes) before: $(load)"
echo
"$build/bench/quillmere-bench" --tiles "$build/src/cli/quillmere-tiles" \
    --window "$build/src/window/qt/quillmere-tile-converter" \
    --minimal-window "$build/bench/minimal-window" --xvfb-display "$display" "$@"
# --only names a part of the table; the put's large maps are a part of their own.
if [[ " $* " != *" --only "* ]]; then
    echo
    echo "Putting a tile set back into large maps:"
    echo
    "$repo/bench/put_large_maps.sh" "$build"
fi
echo "Load average after: $(load)"
