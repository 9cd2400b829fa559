#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite twice: a plain build with
# warnings as errors, and one under AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${build_packages[@]}" "${test_packages[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cd "$repo"
echo "== Plain build (preset dev, in build/test)"
build_preset dev
ctest --preset dev --parallel "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (preset sanitize, in build/sanitize)"
build_preset sanitize
ctest --preset sanitize --parallel "$jobs"
