#!/usr/bin/env bash
# Converts on exFAT and on FAT, both over FUSE on a loop device: file systems that give each
# spelling of a name its own inode number, and (FAT) keep no modes. Usage: fuse_volumes.sh
# QUILLMERE_TILES. Exits 77 (skipped) with the reason where loop devices or FUSE are missing.
set -u
tiles=$(realpath "$1")

skip() {
    echo "skipped: $1"
    exit 77
}
for device in /dev/loop-control /dev/fuse; do
    [ -e "$device" ] || skip "$device is missing"
done
for tool in losetup mkfs.exfat mount.exfat-fuse mkfs.fat fusefat; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

scratch=$(mktemp -d)
loop=
main=$BASHPID
cleanup() {
    cd /
    mountpoint -q "$scratch/volume" && umount "$scratch/volume"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$scratch"
}
trap '[ $BASHPID = $main ] && cleanup' EXIT

failures=0
row() {
    local name=$1
    shift
    if "$@" >>"$scratch/log" 2>&1; then
        echo "ok: $name"
    else
        echo "FAILED: $name"
        failures=$((failures + 1))
    fi
}
sizeIs() { [ "$(stat -c %s "$1")" = "$2" ]; }

refusesTheMapUnderAnotherSpelling() {
    "$tiles" Castle.LVL castle.lvl 2>&1 | grep -q "it is the map file itself" &&
        cmp Castle.LVL "$scratch/map"
}
replacesAnOutput() {
    "$tiles" Castle.LVL Tiles.BMP && "$tiles" Castle.LVL Tiles.BMP && sizeIs Tiles.BMP 49713
}
batchWritesOneFileForTwoSpellings() {
    mkdir a b out && cp "$scratch/map" a/Castle.LVL && head -c 60000 /dev/urandom >b/CASTLE.LVL &&
        "$tiles" -d out a/Castle.LVL b/CASTLE.LVL 2>&1 | grep -q "an earlier map in this run wrote it" &&
        [ "$(ls out)" = Castle.BMP ] && cmp out/Castle.BMP <(head -c 49713 a/Castle.LVL)
}
refusesTheMapSpelledWithOtherLetters() {
    cp "$scratch/map" Łódź.LVL && "$tiles" Łódź.LVL łódź.lvl 2>&1 | grep -q "it is the map file itself" &&
        cmp Łódź.LVL "$scratch/map"
}
putRefusesOneFileUnderTwoSpellings() {
    "$tiles" --put Tiles.BMP tiles.bmp 2>&1 | grep -q "are the same file"
}
writesALongUtf8Name() {
    local name
    name=$(printf 'é%.0s' {1..110})x.BMP # 225 bytes
    "$tiles" Castle.LVL "$name" && sizeIs "$name" 49713
}
removesItsOwnLeftover() {
    touch ".tiles.bmp.quillmere-$(id -u)-3.part" && "$tiles" Castle.LVL Tiles.BMP &&
        [ ! -e ".tiles.bmp.quillmere-$(id -u)-3.part" ]
}

for system in exfat fat; do
    truncate -s 32M "$scratch/image"
    mkdir -p "$scratch/volume"
    if [ $system = exfat ]; then mkfs.exfat "$scratch/image"; else mkfs.fat "$scratch/image"; fi \
        >>"$scratch/log" 2>&1
    loop=$(losetup -f --show "$scratch/image" 2>>"$scratch/log") || skip "no loop device for this user"
    if [ $system = exfat ]; then
        mount.exfat-fuse "$loop" "$scratch/volume"
    else
        fusefat -o rw+ "$loop" "$scratch/volume"
    fi >>"$scratch/log" 2>&1 || skip "FUSE could not mount $system here"
    cd "$scratch/volume"
    head -c 60000 /dev/urandom >Castle.LVL
    cp Castle.LVL "$scratch/map"

    row "$system: the map under another spelling is refused" refusesTheMapUnderAnotherSpelling
    row "$system: an existing output is replaced" replacesAnOutput
    row "$system: a batch's two spellings of one output" batchWritesOneFileForTwoSpellings
    row "$system: --put with one file under two spellings" putRefusesOneFileUnderTwoSpellings
    row "$system: its own leftover is removed" removesItsOwnLeftover
    [ $system = exfat ] && row "$system: a 225-byte UTF-8 name" writesALongUtf8Name
    [ $system = exfat ] && row "$system: the map under a spelling beyond Latin-1 is refused" \
        refusesTheMapSpelledWithOtherLetters

    cd /
    umount "$scratch/volume"
    losetup -d "$loop"
    loop=
done
[ $failures = 0 ] || { cat "$scratch/log"; exit 1; }
