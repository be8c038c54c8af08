#!/bin/sh
# Times the helper's removeItems and trashItems against their peers on the same trees, in
# the same run, on ext4 and on tmpfs, and prints the ratios (ours / peer; below 1 is
# faster):
#   - remove a nested and a flat tree of FILES files   vs  rm -rf
#   - trash a tree the account owns / root owns        vs  mv + chown -hR (goal for the
#     account's own tree, the Trash on the item's file system: at most 0.5)
#   - one request naming MANY separate files           vs  a bare C loop of unlink / rename
# Usage (as root): bench/FileOperationsBench.sh [DRIVER]; DRIVER defaults to the bench
# preset's bench_FileOperationsBench. FILES (100000) and MANY (10000) may be overridden;
# ONLY (a pattern: remove, trash, removeItems, trashItems, ext4, tmpfs) runs the matching rows.
set -eu
cd "$(dirname "$0")/.."
driver=${1:-build/bench/bench/bench_FileOperationsBench}
files=${FILES:-100000}
many=${MANY:-10000}
account=kbopsbench$$
ext4base=/var/tmp/kbops-bench.$$
tmpfsbase=/tmp/kbops-bench-tmpfs.$$

now() { date +%s.%N; }
elapsed() { echo "$(now) $1" | awk '{printf "%.3f", $1 - $2}'; }
ratio() { echo "$1 $2" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "n/a" }'; }
only=${ONLY:-}
wanted() { case "$1" in *$only*) return 0 ;; *) return 1 ;; esac; }
row() { printf '%-8s %-34s ours %8ss  peer %8ss  ratio %s\n' "$1" "$2" "$3" "$4" "$(ratio "$3" "$4")"; }

cleanup() {
    userdel "$account" >/dev/null 2>&1 || true
    rm -rf "$ext4base"
    if mountpoint -q "$tmpfsbase"; then umount "$tmpfsbase"; fi
    rmdir "$tmpfsbase" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

mkdir -p "$ext4base" "$tmpfsbase"
mount -t tmpfs -o size=4g,nr_inodes=2m kbbench "$tmpfsbase"
useradd --no-create-home --home-dir "$ext4base/home" --user-group "$account"
uid=$(id -u "$account")
gid=$(id -g "$account")

for fs in ext4 tmpfs; do
    if [ "$fs" = ext4 ]; then base=$ext4base; else base=$tmpfsbase; fi
    home=$base/home
    usermod --home "$home" "$account"
    mkdir -p "$home/work" "$home/.Trash"
    chown "$uid:$gid" "$home" "$home/.Trash"
    state=$base/state
    w=$home/work
    sync

    for shape in nested flat; do
        wanted "$fs remove $shape" || continue
        "$driver" make-$shape "$w/peer" "$files"
        "$driver" make-$shape "$w/ours" "$files"
        sync
        start=$(now); rm -rf "$w/peer"; peer=$(elapsed "$start")
        ours=$("$driver" remove "$uid" "$state" "$w/ours")
        row "$fs" "remove $files-file $shape tree" "$ours" "$peer"
    done

    for owner in account root; do
        wanted "$fs trash $owner" || continue
        "$driver" make-nested "$w/peer" "$files"
        "$driver" make-nested "$w/ours" "$files"
        if [ "$owner" = account ]; then chown -R "$uid:$gid" "$w/peer" "$w/ours"; fi
        sync
        start=$(now)
        mv "$w/peer" "$home/.Trash/peer"
        chown -hR "$uid:$gid" "$home/.Trash/peer"
        peer=$(elapsed "$start")
        ours=$("$driver" trash "$uid" "$state" "$w/ours")
        row "$fs" "trash $files-file tree ($owner owns)" "$ours" "$peer"
        rm -rf "$home/.Trash/peer" "$home/.Trash/ours"
    done

    if wanted "$fs removeItems"; then
    "$driver" make-flat "$w/peer" "$many"
    "$driver" make-flat "$w/ours" "$many"
    sync
    peer=$("$driver" unlink-loop "$w/peer")
    ours=$("$driver" remove-list "$uid" "$state" "$w/ours")
    row "$fs" "removeItems of $many files" "$ours" "$peer"
    echo "$fs removeItems: $(echo "$many $ours" | awk '{printf "%.0f", $1 / $2}') items/s"
    fi

    if wanted "$fs trashItems"; then
    "$driver" make-flat "$w/peer" "$many"
    "$driver" make-flat "$w/ours" "$many"
    mkdir -p "$home/.Trash/loop"
    sync
    peer=$("$driver" rename-loop "$w/peer" "$home/.Trash/loop")
    ours=$("$driver" trash-list "$uid" "$state" "$w/ours")
    row "$fs" "trashItems of $many files" "$ours" "$peer"
    echo "$fs trashItems: $(echo "$many $ours" | awk '{printf "%.0f", $1 / $2}') items/s"
    fi
    rm -rf "$home/.Trash" "$w"
done
