#!/bin/sh
# Service-mode benchmarks against a bare Unix-socket frame echo written in C (pingpong.c),
# timed by the same C client in the same run:
#   - warm round trip (p50, p99) of getVersion, of the getVersion request through the
#     request path, and of a one-path removeItems;
#   - calls per second with 16 concurrent clients;
#   - cold start: from connect on a socket held by systemd-socket-activate to the first
#     reply, the helper against the echo program started the same way (median of 9).
# The client is attested and run as a scratch account, as the application would be.
# With BASELINE, an earlier build of the helper is measured the same way in the same run,
# and each row also gives this helper's figure over the baseline's.
# Usage: bench/service_bench.sh [BUILD_DIR [BASELINE]]   (default: the "bench" preset).
# Run as root.
set -eu
cd "$(dirname "$0")/.."
build="${1:-}"
baseline="${2:-}"
if [ -z "$build" ]; then
    cmake --preset bench >/dev/null
    build="$PWD/build/bench"
fi
cmake --build "$build" -j 2 --target dev.kestrelbay.helper kestrelbay-helperctl >/dev/null
helper="$build/helper/dev.kestrelbay.helper"
ctl="$build/tools/helperctl/kestrelbay-helperctl"

scratch=$(mktemp -d /tmp/kestrelbay-bench.XXXXXX)
chmod 755 "$scratch"
account="kbbench$$"
group="kbbenchg$$"
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    userdel -r "$account" >/dev/null 2>&1 || true
    groupdel "$group" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM
groupadd "$group"
useradd --create-home --user-group --shell /bin/sh "$account"
uid=$(id -u "$account")
gid=$(id -g "$account")
home=$(getent passwd "$account" | cut -d: -f6)

cc -O2 -o "$scratch/pingpong.build" bench/pingpong.c
install -o root -g "$group" -m 2755 "$scratch/pingpong.build" "$scratch/pingpong"
"$ctl" attest "$scratch/pingpong" --identifier dev.kestrelbay --team Q7Z2K4M9X1
printf '{"removeItems":{"paths":["%s/absent"],"uid":%s}}' "$home" "$uid" >"$scratch/remove.json"
# getVersion as a request: the transport, the worker pool and the codec without an operation.
printf '{"getVersion":{}}' >"$scratch/perform.json"

as_user() { setpriv --reuid="$uid" --regid="$gid" --clear-groups "$scratch/pingpong" "$@"; }
start() {  # start NAME PROGRAM...: socket-activated, returns once the socket exists
    sock="$scratch/$1.sock"
    shift
    rm -f "$sock"
    systemd-socket-activate -l "$sock" "$@" 2>>"$scratch/activate.log" &
    pids="$pids $!"
    last_pid=$!
    while [ ! -S "$sock" ]; do sleep 0.01; done
    chmod 666 "$sock"
}
field() { sed -n "s/.*$1 \([0-9.]*\).*/\1/p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

start helper "$helper"
helper_sock=$sock
start echo "$scratch/pingpong" echo
echo_sock=$sock
if [ -n "$baseline" ]; then
    start baseline "$baseline"
    baseline_sock=$sock
fi
# versus_baseline VALUE SOCKET_VALUE: " | baseline V, this/baseline R" when measured
versus_baseline() {
    [ -n "$baseline" ] && echo " | baseline $2, this/baseline $(ratio "$1" "$2")"
    true
}

echo "== warm round trip, 20000 calls (us)"
for call in getVersion perform removeItems; do
    file=-
    [ "$call" = removeItems ] && file="$scratch/remove.json"
    [ "$call" = perform ] && file="$scratch/perform.json"
    h=$(as_user rtt "$helper_sock" 20000 "$file")
    e=$(as_user rtt "$echo_sock" 20000 "$file")
    hp50=$(echo "$h" | field p50_us); hp99=$(echo "$h" | field p99_us)
    ep50=$(echo "$e" | field p50_us); ep99=$(echo "$e" | field p99_us)
    bp50=""
    [ -n "$baseline" ] && bp50=$(as_user rtt "$baseline_sock" 20000 "$file" | field p50_us)
    echo "$call: helper p50 $hp50 p99 $hp99 | echo p50 $ep50 p99 $ep99 | p50 ratio $(ratio "$hp50" "$ep50")x (goal <= 2x), p99 ratio $(ratio "$hp99" "$ep99")x$(versus_baseline "$hp50" "$bp50")"
done

echo "== 16 concurrent clients x 5000 calls (calls/s)"
for call in getVersion removeItems; do
    file=-
    [ "$call" = removeItems ] && file="$scratch/remove.json"
    h=$(as_user load "$helper_sock" 5000 16 "$file" | field calls_per_second)
    e=$(as_user load "$echo_sock" 5000 16 "$file" | field calls_per_second)
    b=""
    [ -n "$baseline" ] && b=$(as_user load "$baseline_sock" 5000 16 "$file" | field calls_per_second)
    echo "$call: helper $h | echo $e | helper/echo $(ratio "$h" "$e") (goal >= 0.5)$(versus_baseline "$h" "$b")"
done

echo "== cold start, connect to first reply (us, median of 9)"
median() { sort -n | sed -n 5p; }
cold() {  # cold FILE PROGRAM...: appends connect-to-first-reply of a fresh instance to FILE
    out="$1"
    shift
    start cold "$@"
    as_user cold "$sock" >>"$out"
    kill "$last_pid"; wait "$last_pid" 2>/dev/null || true
}
for i in 1 2 3 4 5 6 7 8 9; do
    cold "$scratch/cold-helper" "$helper"
    cold "$scratch/cold-echo" "$scratch/pingpong" echo
    [ -z "$baseline" ] || cold "$scratch/cold-baseline" "$baseline"
done
h=$(median <"$scratch/cold-helper")
e=$(median <"$scratch/cold-echo")
b=""
[ -z "$baseline" ] || b=$(median <"$scratch/cold-baseline")
echo "helper $h | echo $e | ratio $(ratio "$h" "$e")x (goal <= 1.3x)$(versus_baseline "$h" "$b")"
