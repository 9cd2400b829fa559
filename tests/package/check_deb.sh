#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary folder and checks
# that it holds what a desktop expects and that its programs run from there.
set -euo pipefail
build=$1
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
    share/man/man1/quillmere-tiles.1; do
    [ -f "$root/$file" ] || { echo "missing from the package: $file"; exit 1; }
done

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-liberation2 libqt6widgets6; do
    [[ $depends == *"$needed"* ]] || { echo "the package does not depend on $needed: $depends"; exit 1; }
done

desktop-file-validate "$root/share/applications/org.quillmere.tileconverter.desktop"
appstreamcli validate --no-net --pedantic "$root/share/metainfo/org.quillmere.tileconverter.metainfo.xml"
man --warnings -l "$root/share/man/man1/quillmere-tiles.1" >"$work/man.txt"

"$root/bin/quillmere-tiles" --version | grep -qx "quillmere-tiles 1.0.0.4"
QT_QPA_PLATFORM=offscreen "$root/bin/quillmere-tile-converter" --version |
    grep -qx "quillmere-tile-converter 1.0.0.4"
echo "package $(basename "$deb") holds and runs what it should"
