#!/bin/sh
# Checks an executable for the distribution's baseline hardening with readelf: immediate
# binding (BIND_NOW), read-only relocations (GNU_RELRO), position independence (PIE) and the
# stack protector (__stack_chk_fail). Fortified libc calls (__*_chk) are reported, not
# required: a debug build has none. Usage: check-hardening.sh EXECUTABLE
set -eu
file="${1:?usage: check-hardening.sh EXECUTABLE}"
failed=0
check() {
    if [ "$2" = yes ]; then
        echo "ok    $1"
    else
        echo "FAIL  $1"
        failed=1
    fi
}
has() { if grep -q -E "$1"; then echo yes; else echo no; fi; }

dynamic=$(readelf -W -d "$file")
header=$(readelf -W -h "$file")
segments=$(readelf -W -l "$file")
symbols=$(readelf -W --dyn-syms "$file")

check "BIND_NOW" "$(echo "$dynamic" | has '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW')"
check "GNU_RELRO" "$(echo "$segments" | has 'GNU_RELRO')"
check "PIE" "$( (echo "$header" | grep -q 'Type:[[:space:]]*DYN') && echo "$dynamic" | has '\(FLAGS_1\).*PIE')"
check "stack protector (__stack_chk_fail)" "$(echo "$symbols" | has '__stack_chk_fail')"
check "no executable stack" "$(echo "$segments" | grep GNU_STACK | has 'RW ')"
fortified=$(echo "$symbols" | grep -o -E '__[a-z_]+_chk\b' | grep -v '^__stack_chk$' | sort -u | tr '\n' ' ')
echo "info  fortified calls: ${fortified:-none}"
exit "$failed"
