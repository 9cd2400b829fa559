#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that a desktop would open maps (*.lvl, in
# any case) with the window: the desktop entry validates and the MIME database takes the type.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >"$prefix/install.log"
desktop=$prefix/share/applications/org.quillmere.tileconverter.desktop
desktop-file-validate "$desktop"
grep -qx 'Exec=quillmere-tile-converter %f' "$desktop" || { echo "Exec takes no file"; exit 1; }
grep -qx 'MimeType=application/x-quillmere-map;' "$desktop" || { echo "no MimeType"; exit 1; }

# Told that the prefix is where data is looked for, it has nothing to warn about but real faults.
XDG_DATA_DIRS=$prefix/share update-mime-database "$prefix/share/mime" 2>"$prefix/mime.log"
[ ! -s "$prefix/mime.log" ] || { cat "$prefix/mime.log"; exit 1; }
# Without the ":cs" flag a glob matches in any case.
grep -qx '[0-9]*:application/x-quillmere-map:\*\.lvl' "$prefix/share/mime/globs2" ||
    { echo "*.lvl is not mapped to application/x-quillmere-map:"; cat "$prefix/share/mime/globs2"; exit 1; }
echo "maps open with quillmere-tile-converter"
