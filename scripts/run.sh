#!/usr/bin/env bash
# Installs what is missing, builds, and opens the window in a scratch folder that holds a
# sample map as "Map.LVL", so that pressing Convert straight away writes "Tiles.BMP" there. The
# folder goes when the window closes.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${build_packages[@]}"
build_preset release
build=$repo/build/release # the preset release's folder

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-tiles.XXXXXX")
main=$BASHPID
trap '[ $BASHPID = $main ] && rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM HUP
"$build/tools/quillmere-sample-map" "$scratch/Map.LVL"
cd "$scratch"
echo "Working in $scratch until the window closes: press Convert to write Tiles.BMP there."
"$build/src/window/qt/quillmere-tile-converter" "$@"
