#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary folder and checks
# that it holds what a desktop expects and that its programs run from there.
set -euo pipefail
build=$1
version=$2
license=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log"
deb=$(ls "$work"/out/*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

for file in bin/quillmere-tile-converter bin/quillmere-tiles \
    share/applications/org.quillmere.tileconverter.desktop \
    share/metainfo/org.quillmere.tileconverter.metainfo.xml \
    share/mime/packages/org.quillmere.tileconverter.xml \
    share/icons/hicolor/16x16/apps/quillmere-tile-converter.png \
    share/icons/hicolor/32x32/apps/quillmere-tile-converter.png \
    share/icons/hicolor/256x256/apps/quillmere-tile-converter.png \
    share/man/man1/quillmere-tiles.1.gz share/man/man1/quillmere-tile-converter.1.gz \
    share/doc/quillmere-tile-converter/copyright; do
    [ -f "$root/$file" ] || { echo "missing from the package: $file"; exit 1; }
done
# The desktop's caches are the system's, rebuilt when a package installs: none in ours.
caches=$(cd "$root/share" && find mime applications -type f ! -name '*.xml' ! -name '*.desktop')
[ -z "$caches" ] || { echo "caches in the package: $caches"; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-liberation2 libqt6widgets6; do
    [[ $depends == *"$needed"* ]] || { echo "the package does not depend on $needed: $depends"; exit 1; }
done

desktop-file-validate "$root/share/applications/org.quillmere.tileconverter.desktop"
metainfo=$root/share/metainfo/org.quillmere.tileconverter.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo"
for page in quillmere-tiles quillmere-tile-converter; do
    man --warnings -l "$root/share/man/man1/$page.1.gz" >"$work/man.txt"
done

# Debian's copyright file: the MIT license with the terms of LICENSE, word for word.
copyright=$root/share/doc/quillmere-tile-converter/copyright
grep -qx "License: MIT" "$copyright" || { echo "the copyright file names no MIT license"; exit 1; }
awk '/^License: MIT$/ { body = 1; next } body && /^ / { print; next } { body = 0 }' "$copyright" |
    sed 's/^ \.$//; s/^ //' >"$work/terms"
grep -A1000 "^Permission" "$license" | diff - "$work/terms" ||
    { echo "the copyright file's terms differ from LICENSE"; exit 1; }

# One version everywhere: the programs, the manual page and the metadata say the project's.
say_version() { grep -q "$1" "$2" || { echo "$2 does not say version $version"; exit 1; }; }
"$root/bin/quillmere-tiles" --version >"$work/version"
say_version "^quillmere-tiles $version\$" "$work/version"
QT_QPA_PLATFORM=offscreen "$root/bin/quillmere-tile-converter" --version >"$work/version"
say_version "^quillmere-tile-converter $version\$" "$work/version"
for page in quillmere-tiles quillmere-tile-converter; do
    zcat "$root/share/man/man1/$page.1.gz" >"$work/$page.1"
    say_version "\"$page $version\"" "$work/$page.1"
done
say_version "<release version=\"$version\"" "$metainfo"
grep -q "<project_license>MIT</project_license>" "$metainfo" ||
    { echo "the metadata names no MIT license"; exit 1; }
echo "package $(basename "$deb") holds and runs what it should"
