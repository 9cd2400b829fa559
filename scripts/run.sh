#!/usr/bin/env bash
# Installs what is missing, builds, and opens the window in a scratch folder that holds a
# sample map as "Map.LVL", so that pressing Convert straight away writes "Tiles.BMP" there.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${build_packages[@]}"
configure_and_build "$repo/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-tiles.XXXXXX")
"$repo/build/release/tools/quillmere-sample-map" "$scratch/Map.LVL"
cd "$scratch"
echo "Working in $scratch: press Convert to write Tiles.BMP there."
exec "$repo/build/release/src/window/qt/quillmere-tile-converter"
