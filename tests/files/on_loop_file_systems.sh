#!/usr/bin/env bash
# Runs a test binary once in a folder of each file system that matters for copying a map's rest:
# btrfs and xfs share blocks, ext4 does not. Each is a fresh image on a loop device, removed after.
# Exits 77 (skipped) where loop devices cannot be mounted here: not root, or no loop support.
set -euo pipefail
binary=$1

if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/loop-control ]; then
    echo "skipped: mounting a loop device needs root and /dev/loop-control"
    exit 77
fi
scratch=$(mktemp -d)
main=$BASHPID
cleanup() {
    [ "$BASHPID" = "$main" ] || return 0
    umount "$scratch/mount" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/mount"

ran=0
for kind in btrfs xfs ext4; do
    if ! command -v "mkfs.$kind" >/dev/null; then
        echo "$kind: no mkfs.$kind here, left out"
        continue
    fi
    truncate -s 1G "$scratch/$kind.img"
    "mkfs.$kind" -q "$scratch/$kind.img" >/dev/null
    if ! mount -o loop "$scratch/$kind.img" "$scratch/mount" 2>"$scratch/mount.log"; then
        echo "skipped: $kind could not be mounted: $(cat "$scratch/mount.log")"
        exit 77
    fi
    shared=()
    [ "$kind" = ext4 ] || shared=(QUILLMERE_EXPECT_SHARED_BLOCKS=1)
    echo "== $kind"
    env QUILLMERE_TEST_FOLDER="$scratch/mount" "${shared[@]}" "$binary"
    umount "$scratch/mount"
    rm -f "$scratch/$kind.img"
    ran=$((ran + 1))
done
[ "$ran" -gt 0 ] || { echo "skipped: no mkfs for btrfs, xfs or ext4"; exit 77; }
