#!/usr/bin/env bash
# Configures the source tree into an empty folder, as a newcomer does first, and checks that
# nothing there reads as a fault: no "Could NOT find".
set -euo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$source" -B "$work" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
if grep -i "could not find" "$work/configure.log"; then
    echo "FAILED: configuring a clean tree says it could not find something"
    exit 1
fi
echo "configuring a clean tree finds what it looks for"
