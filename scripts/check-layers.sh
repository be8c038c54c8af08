#!/bin/sh
# Fails when a C or C++ file includes a header from a layer above its own; prints each
# offending include as FILE:LINE. Usage: check-layers.sh [SOURCE_DIR] (default: this tree).
#
# The layers, lowest first (a folder may include its own layer and the ones below it):
#   base -> platform -> json -> HelperProtocol | CleanerCore -> helper -> tools -> bench, fuzz, examples
# HelperProtocol and CleanerCore are siblings: neither includes the other. Inside CleanerCore:
#   errors -> policy | process | model -> persistence -> scanner   (the three in the middle are siblings)
# Test support: testing/ uses only base, platform and json, and only test code (FooTest.cpp,
# test support, bench, fuzz) includes it; helper/testing/ is the helper's test support, used
# by test code of the helper and above. A folder that does not exist is simply empty.
set -eu
root="${1:-$(dirname "$0")/..}"
cd "$root"

folders=""
for f in base platform json HelperProtocol CleanerCore helper tools testing bench fuzz examples; do
    [ -d "$f" ] && folders="$folders $f"
done
[ -n "$folders" ] || { echo "no source folders under $root" >&2; exit 2; }

# shellcheck disable=SC2086
find $folders \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.c' \) -type f -print |
    LC_ALL=C sort |
    xargs grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' /dev/null |
    awk '
function dirOf(p) { sub(/\/[^\/]*$/, "", p); return p }
function layer(p) {
    if (p ~ /^helper\/testing\//) return "helper/testing"
    split(p, part, "/")
    return part[1]
}
function rank(l) {
    if (l == "base") return 0
    if (l == "platform") return 1
    if (l == "json") return 2
    if (l == "HelperProtocol" || l == "CleanerCore") return 3
    if (l == "helper" || l == "helper/testing") return 4
    if (l == "tools") return 5
    if (l == "bench" || l == "fuzz" || l == "examples") return 6
    return -1
}
function coreRank(p,    part) {
    split(p, part, "/")
    if (part[2] == "errors") return 0
    if (part[2] == "policy" || part[2] == "process" || part[2] == "model") return 1
    if (part[2] == "persistence") return 2
    if (part[2] == "scanner") return 3
    return 1
}
function coreFolder(p,    part) { split(p, part, "/"); return part[2] }
function isTestCode(p, l) {
    return p ~ /Test\.cpp$/ || p ~ /Harness\.(h|cpp)$/ || l == "testing" || l == "helper/testing" ||
           l == "bench" || l == "fuzz"
}
function refuse(why) {
    printf "%s:%s: includes \"%s\": %s\n", file, line, header, why
    bad++
}
{
    # FILE:LINE:TEXT, the header between the first pair of quotes of TEXT
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    line = rest; sub(/:.*/, "", line)
    header = rest; sub(/^[^"]*"/, "", header); sub(/".*/, "", header)
    target = header
    if (target !~ /\//) target = dirOf(file) "/" target
    from = layer(file); to = layer(target)
    if (to == "testing") {
        if (!isTestCode(file, from)) refuse("test support used by code that is not a test")
        next
    }
    if (from == "testing") {
        if (rank(to) > 2) refuse("testing/ uses only base, platform and json")
        next
    }
    if (rank(to) < 0 || rank(from) < 0) next
    if (to == "helper/testing") {
        if (!isTestCode(file, from) || rank(from) < 4) refuse("the helper'"'"'s test support used below the helper or outside tests")
        next
    }
    if (rank(to) > rank(from)) { refuse(to " is a layer above " from); next }
    if (rank(to) == rank(from) && to != from && rank(to) < 6 && !(from == "helper/testing" && to == "helper")) {
        refuse(to " and " from " are siblings: neither includes the other"); next
    }
    if (from == "CleanerCore" && to == "CleanerCore") {
        a = coreFolder(file); b = coreFolder(target)
        if (coreRank(target) > coreRank(file)) refuse("CleanerCore/" b " is above CleanerCore/" a)
        else if (coreRank(target) == coreRank(file) && a != b) refuse("CleanerCore/" b " and CleanerCore/" a " are siblings")
    }
}
END {
    if (bad) { printf "%d include(s) point up the layers\n", bad; exit 1 }
    print "every include points down the layers"
}'
