#!/usr/bin/env bash
# Installs what is missing, builds, and converts a sample map in a scratch folder.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${build_packages[@]}"
configure_and_build "$repo/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-tiles.XXXXXX")
cd "$scratch"
"$repo/build/release/tools/quillmere-sample-map" Map.LVL
"$repo/build/release/src/cli/quillmere-tiles" Map.LVL Tiles.BMP
echo "The tile set is in $scratch/Tiles.BMP"
