#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole suite twice: a plain build with
# warnings as errors, and one under AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${build_packages[@]}" "${test_packages[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== Plain build"
configure_and_build "$repo/build/test" -DCMAKE_BUILD_TYPE=Debug -DQUILLMERE_WARNINGS_AS_ERRORS=ON
ctest --test-dir "$repo/build/test" --output-on-failure --parallel "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
configure_and_build "$repo/build/sanitize" -DCMAKE_BUILD_TYPE=Debug \
    -DQUILLMERE_WARNINGS_AS_ERRORS=ON -DQUILLMERE_SANITIZE=ON
ctest --test-dir "$repo/build/sanitize" --output-on-failure --parallel "$jobs"
