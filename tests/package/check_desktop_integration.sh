#!/usr/bin/env bash
# Installs a build into temporary prefixes and checks that a desktop would open maps (*.lvl, in
# any case) with the window: staged through DESTDIR, as for a package, it holds the desktop
# entry, both manual pages and no caches; installed straight into a prefix, the prefix's MIME and
# desktop caches know maps at once.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

staged=$work/staged
DESTDIR=$staged cmake --install "$build" --prefix /usr >"$work/staged.log"
for page in quillmere-tiles quillmere-tile-converter; do
    [ -f "$staged/usr/share/man/man1/$page.1.gz" ] || fail "no manual page $page(1)"
done
[ ! -e "$staged/usr/share/mime/mime.cache" ] || fail "a staged install rebuilt the MIME cache"

prefix=$work/prefix
env -u DESTDIR cmake --install "$build" --prefix "$prefix" >"$work/install.log"
desktop=$prefix/share/applications/org.quillmere.tileconverter.desktop
desktop-file-validate "$desktop"
grep -qx 'Exec=quillmere-tile-converter %f' "$desktop" || fail "Exec takes no file"
grep -qx 'MimeType=application/x-quillmere-map;' "$desktop" || fail "no MimeType"
grep -q '^application/x-quillmere-map=.*org\.quillmere\.tileconverter\.desktop' \
    "$prefix/share/applications/mimeinfo.cache" || fail "the desktop cache does not know maps"
grep -qx 'application/x-quillmere-map' "$prefix/share/mime/types" ||
    fail "the MIME database does not know maps"

# Told that the prefix is where data is looked for, it has nothing to warn about but real faults.
XDG_DATA_DIRS=$prefix/share update-mime-database "$prefix/share/mime" 2>"$work/mime.log"
[ ! -s "$work/mime.log" ] || { cat "$work/mime.log"; exit 1; }
# Without the ":cs" flag a glob matches in any case.
grep -qx '[0-9]*:application/x-quillmere-map:\*\.lvl' "$prefix/share/mime/globs2" ||
    { echo "*.lvl is not mapped to application/x-quillmere-map:"; cat "$prefix/share/mime/globs2"; exit 1; }
echo "maps open with quillmere-tile-converter"
