#!/usr/bin/env bash
# The launch command's capability step (scripts/grant-capability), run as an ordinary user
# (uid 65534) with a sudo that records what it is asked to do: it asks once, in one line, only
# when the capability is missing and needed, and says what to run when there is no sudo. Runs in
# private network and mount namespaces: the unprivileged port start is the kernel's default, and
# a nosuid mount is ours alone.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/grant-capability

if [ -z "${ZOQ_IN_PRIVATE_NET:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root (a second user id)"; exit 77; fi
  export ZOQ_IN_PRIVATE_NET=1
  exec unshare --net --mount "$0" "$@"
fi

work=$(mktemp -d)
trap 'umount "$work/nosuid" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
chmod 755 "$work"
cp /bin/true "$work/zoq-upgrade"
install -d -m 777 "$work/log"
mkdir "$work/sudo" "$work/nosudo"
cat >"$work/sudo/sudo" <<FAKE
#!/bin/sh
echo "\$*" >>"$work/log/sudo.calls"
FAKE
chmod 755 "$work/sudo/sudo"
for tool in bash id cat; do ln -s "$(command -v "$tool")" "$work/nosudo/$tool"; done

as_user() {  # PATH, then the script's output goes to $work/log/out and err
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$1" \
    "$script" "$work/zoq-upgrade" >"$work/log/out" 2>"$work/log/err"
}
sudo_calls() { cat "$work/log/sudo.calls" 2>/dev/null || true; }

sysctl -q -w net.ipv4.ip_unprivileged_port_start=1024

# Missing: one line that says what and why, then sudo setcap on exactly this file.
as_user "$work/sudo:/usr/bin:/bin" || fail "exit code $? when the capability was missing"
[ "$(sudo_calls)" = "setcap cap_net_bind_service=ep $work/zoq-upgrade" ] ||
  fail "sudo was asked: $(sudo_calls)"
{ [ "$(wc -l <"$work/log/out")" -eq 1 ] && grep -q 'cap_net_bind_service' "$work/log/out"; } ||
  fail "the explanation: $(cat "$work/log/out")"
rm "$work/log/sudo.calls"

# No sudo: the command for root, and a failure, not a silent launch without the capability.
if as_user "$work/nosudo"; then fail "succeeded without sudo"; fi
grep -q "as root run: setcap cap_net_bind_service=ep $work/zoq-upgrade" "$work/log/err" ||
  fail "no command for root: $(cat "$work/log/err")"

# Present already, or not needed: nothing asked, nothing said.
setcap cap_net_bind_service=ep "$work/zoq-upgrade"
as_user "$work/sudo:/usr/bin:/bin" || fail "exit code $? with the capability present"
{ [ -z "$(sudo_calls)" ] && [ ! -s "$work/log/out" ]; } || fail "asked although the capability is there"
setcap -r "$work/zoq-upgrade"
sysctl -q -w net.ipv4.ip_unprivileged_port_start=69
as_user "$work/sudo:/usr/bin:/bin" || fail "exit code $? with port 69 open to all"
{ [ -z "$(sudo_calls)" ] && [ ! -s "$work/log/out" ]; } || fail "asked although port 69 is open to all"
sysctl -q -w net.ipv4.ip_unprivileged_port_start=1024

# On a nosuid mount the capability would be ignored: say so rather than ask for it.
mkdir -m 755 "$work/nosuid"
mount -t tmpfs -o nosuid,mode=755 zoq-nosuid "$work/nosuid"
cp /bin/true "$work/nosuid/zoq-upgrade"
if setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$work/sudo:/usr/bin:/bin" \
  "$script" "$work/nosuid/zoq-upgrade" >"$work/log/out" 2>"$work/log/err"; then
  fail "succeeded on a nosuid mount"
fi
[ -z "$(sudo_calls)" ] || fail "asked on a nosuid mount"
grep -q nosuid "$work/log/err" || fail "no word about nosuid: $(cat "$work/log/err")"
umount "$work/nosuid"

# Root needs nothing.
PATH="$work/sudo:$PATH" "$script" "$work/zoq-upgrade" >"$work/log/out"
{ [ -z "$(sudo_calls)" ] && [ ! -s "$work/log/out" ]; } || fail "root was asked"
echo "PASS: grant-capability"
