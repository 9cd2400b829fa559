# Shared by run.sh and test.sh: where things are, and installing what is missing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Installs the Debian packages among "$@" that are not installed yet.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing missing packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running need; the tests need a little more.
build_packages=(cmake make g++ libgtest-dev libstb-dev qt6-base-dev fonts-liberation2)
test_packages=(dpkg-dev file desktop-file-utils shared-mime-info appstream man-db strace valgrind
    imagemagick python3-pil netpbm exfat-fuse exfatprogs fusefat dosfstools)

# build_preset PRESET [CMAKE OPTION]...: configures one of CMakePresets.json's configurations,
# in the build folder it names, and builds it.
build_preset() {
    local preset=$1
    shift
    (cd "$repo" && cmake --preset "$preset" "$@" >/dev/null &&
        cmake --build --preset "$preset" --parallel "$jobs")
}

# configure_and_build DIR [CMAKE OPTION]...
configure_and_build() {
    local dir=$1
    shift
    cmake -S "$repo" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" --parallel "$jobs"
}
