#!/bin/sh
# Fills a directory with the clutter a Linux home gathers: caches of the desktop, browsers
# and developer tools, old and fresh, plus a few items in the Trash. Then point HOME at it
# and run 'kestrelbay scan'.
#
#   examples/make-sample-home.sh DIR [FILES_PER_CACHE]
set -eu

home=${1:?usage: make-sample-home.sh DIR [FILES_PER_CACHE]}
count=${2:-40}
mkdir -p "$home"

# fill DIR COUNT SIZE_KB AGE: COUNT files of SIZE_KB kilobytes, last modified AGE ago.
fill() {
    mkdir -p "$1"
    i=0
    while [ "$i" -lt "$2" ]; do
        head -c "$(($3 * 1024))" /dev/urandom > "$1/entry-$i"
        i=$((i + 1))
    done
    touch -d "$4 ago" "$1" "$1"/* 2>/dev/null || true
}

fill "$home/.cache/thumbnails/normal" "$count" 16 "3 days"
fill "$home/.cache/fontconfig" 4 32 "10 days"
fill "$home/.cache/some-app/blobs" "$count" 8 "5 days"
fill "$home/.cache/fresh-app" 5 8 "1 minute"
fill "$home/.cache/mozilla/firefox/abcd.default-esr/cache2/entries" "$count" 24 "2 days"
fill "$home/.cache/google-chrome/Default/Cache/Cache_Data" "$count" 24 "2 days"
fill "$home/.config/google-chrome/Default/Code Cache/js" "$count" 12 "2 days"
fill "$home/.config/google-chrome/Default/GPUCache" 6 12 "2 days"
fill "$home/.cache/pip/http-v2" "$count" 32 "20 days"
fill "$home/.cache/go-build/0a" "$count" 16 "4 days"
fill "$home/.cache/JetBrains/IdeaIC2025.1/index" "$count" 16 "9 days"
fill "$home/.npm/_cacache/content-v2" "$count" 16 "12 days"
fill "$home/.cargo/registry/cache/index.crates.io-6f17d22bba15001f" 8 64 "30 days"
fill "$home/.gradle/caches/modules-2" "$count" 24 "15 days"
fill "$home/.config/Code/CachedData/abc123" 10 32 "6 days"
fill "$home/.local/share/Trash/files/old-notes" 3 4 "40 days"

touch -d "5 days ago" "$home/.cache/some-app"

# Things that must stay: documents, settings, browser profiles.
mkdir -p "$home/Documents" "$home/.config/google-chrome/Default"
echo "keep me" > "$home/Documents/notes.txt"
echo "{}" > "$home/.config/google-chrome/Default/Preferences"
echo "Sample home with clutter in $home"
