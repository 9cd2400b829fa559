#!/usr/bin/env bash
# Installs what is missing, cross-builds the Qt-free part for Windows with MinGW-w64 and runs
# its tests under Wine: the extraction's tests, the version resource, and quillmere-tiles.exe.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages cmake make googletest g++-mingw-w64-x86-64-posix wine64

build=$repo/build/windows
configure_and_build "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLMERE_BUILD_WINDOW=OFF -DQUILLMERE_WARNINGS_AS_ERRORS=ON

# Wine keeps its state in the build folder, not in the home folder.
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
mkdir -p "$build"
[ -d "$WINEPREFIX" ] || "$wine" wineboot --init <<<"" >"$build/wineboot.log" 2>&1
ctest --test-dir "$build" --output-on-failure
