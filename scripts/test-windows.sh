#!/usr/bin/env bash
# Installs what is missing, cross-builds both programs for Windows with MinGW-w64, packs the
# release zip and runs the tests under Wine: the extraction's, the window's (in process, under
# Wine's null graphics driver), the version resource, quillmere-tiles.exe, and both programs
# from the zip, the window on an Xvfb display.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages cmake make googletest libstb-dev g++-mingw-w64-x86-64-posix wine64 fonts-wine xvfb xdotool

build=$repo/build/windows # the preset windows-cross's folder
build_preset windows-cross

# Wine keeps its state in the build folder, not in the home folder, and needs a UTF-8 locale
# for arguments beyond ASCII.
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all LC_ALL=C.UTF-8
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
mkdir -p "$build"
: >"$build/no-input"
# A cold Wine start now and then hangs: each try is timed, and tried again.
if [ ! -f "$WINEPREFIX/.quillmere-ready" ]; then
    for attempt in 1 2 3; do
        rm -rf "$WINEPREFIX"
        timeout 300 "$wine" wineboot --init <"$build/no-input" >"$build/wineboot.log" 2>&1 &&
            # No display for the in-process window tests: Wine's null graphics driver.
            timeout 60 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
                <"$build/no-input" >>"$build/wineboot.log" 2>&1 &&
            # The Wine started for this runs with the old driver: it ends before the tests start.
            { timeout 60 "$(dirname "$wine")/wineserver" -w || true; } &&
            touch "$WINEPREFIX/.quillmere-ready" && break
        echo "Wine did not start (attempt $attempt of 3)"
        timeout 30 "$(dirname "$wine")/wineserver" -k || true
    done
fi
# Debian's Wine does not look for its own TrueType fonts (Marlett's frame glyphs, Tahoma) where
# fonts-wine puts them: the prefix's font folder gets a copy.
cp -u /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
cd "$repo"
ctest --preset windows-cross
