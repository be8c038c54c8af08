#!/bin/sh
# Service mode in one go: builds the helper and its command-line client, starts the helper
# under systemd-socket-activate on a scratch socket, attests a scratch copy of the client,
# asks for the version as a scratch account, and sends one of that account's files to its
# Trash and back. Everything scratch is removed at the end. Run as root.
set -eu
cd "$(dirname "$0")/.."
# An already configured build directory may be given; by default the "default" preset.
build="${1:-}"
if [ -z "$build" ]; then
    ./scripts/install-deps.sh >/dev/null
    cmake --preset default >/dev/null
    build="$PWD/build/default"
fi
cmake --build "$build" -j 2 --target dev.kestrelbay.helper kestrelbay-helperctl >/dev/null
helper="$build/helper/dev.kestrelbay.helper"
ctl="$build/tools/helperctl/kestrelbay-helperctl"

scratch=$(mktemp -d /tmp/kestrelbay-demo.XXXXXX)
chmod 755 "$scratch"
account="kbdemo$$"
group="kbdemog$$"
helper_pid=""
cleanup() {
    [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null && wait "$helper_pid" 2>/dev/null || true
    userdel -r "$account" >/dev/null 2>&1 || true
    groupdel "$group" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# The application's group: its users are not members, so set-group-id puts it in secure mode.
groupadd "$group"
useradd --create-home --user-group --shell /bin/sh "$account"
uid=$(id -u "$account")
gid=$(id -g "$account")

echo "== the helper, started on demand by systemd-socket-activate"
socket="$scratch/helper.xpc"
systemd-socket-activate -l "$socket" "$helper" 2>"$scratch/helper.log" &
helper_pid=$!
while [ ! -S "$socket" ]; do sleep 0.05; done
chmod 666 "$socket"

echo "== a scratch copy of the client, attested by root"
client="$scratch/kestrelbay"
install -o root -g "$group" -m 2755 "$ctl" "$client"
"$ctl" attest "$client" --identifier dev.kestrelbay --team Q7Z2K4M9X1
getfattr --absolute-names -n trusted.dev.kestrelbay.codesign "$client" | sed -n 2p

as_user() {
    setpriv --reuid="$uid" --regid="$gid" --clear-groups "$client" --socket "$socket" "$@"
}

echo "== version, asked by $account"
as_user version

echo "== a file of $account goes to the Trash..."
home=$(getent passwd "$account" | cut -d: -f6)
setpriv --reuid="$uid" --regid="$gid" --clear-groups sh -c "mkdir -p '$home/Documents' && echo 'quarterly numbers' > '$home/Documents/report.txt'"
answer=$(as_user trash "$home/Documents/report.txt" --uid "$uid")
echo "$answer"
trashed=${answer##* -> }
ls -l "$trashed"

echo "== ...and comes back"
as_user restore "$trashed" "$home/Documents/report.txt" --uid "$uid"
cat "$home/Documents/report.txt"

echo "== the same client as another account's uid is refused"
as_user trash "$home/Documents/report.txt" --uid 0 || true

echo "== an unattested copy is not served"
install -o root -g "$group" -m 2755 "$ctl" "$scratch/copy"
setpriv --reuid="$uid" --regid="$gid" --clear-groups "$scratch/copy" --socket "$socket" version || true

echo "== the helper's log"
grep -v '^Listening on\|^Communication attempt\|^Execing' "$scratch/helper.log" || true
