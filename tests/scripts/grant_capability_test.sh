#!/usr/bin/env bash
# The launch command's capability step (scripts/grant-capability), run as an ordinary user
# (uid 65534) with a sudo that records what it is asked to do: it asks once, in one line, only
# when the capability is missing and needed, says what to run when there is no sudo, and never
# puts the capability on a file the user could change. Runs in private network and mount
# namespaces: the unprivileged port start is the kernel's default, and the root-owned folder
# (a tmpfs over /mnt) and the nosuid mount are ours alone.
set -euo pipefail
source_script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/grant-capability

if [ -z "${ZOQ_IN_PRIVATE_NET:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root (a second user id)"; exit 77; fi
  export ZOQ_IN_PRIVATE_NET=1
  exec unshare --net --mount --propagation private "$0" "$@"
fi

work=$(mktemp -d)
trap 'umount "$work/nosuid" 2>/dev/null || true; umount /mnt 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
chmod 755 "$work"
# The user runs a copy: a checkout in a home folder of mode 0700 is closed to that user.
script=$work/grant-capability
install -m 755 "$source_script" "$script"
# The helper as make run installs it: root-owned, in root-owned folders all the way up.
mount -t tmpfs -o mode=755 zoq-root-owned /mnt
helper=/mnt/libexec/zoq-upgrade-bind
install -D -m 755 /bin/true "$helper"
cp /bin/true "$work/built"
install -d -m 777 "$work/log"
mkdir "$work/sudo" "$work/nosudo"
cat >"$work/sudo/sudo" <<FAKE
#!/bin/sh
echo "\$*" >>"$work/log/sudo.calls"
FAKE
chmod 755 "$work/sudo/sudo"
for tool in bash id cat cmp findmnt realpath stat dirname; do
  ln -s "$(command -v "$tool")" "$work/nosudo/$tool"
done

as_user() {  # PATH, then the script's arguments; its output goes to $work/log/out and err
  local path=$1
  shift
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH="$path" \
    "$script" "$@" >"$work/log/out" 2>"$work/log/err"
}
sudo_calls() { cat "$work/log/sudo.calls" 2>/dev/null || true; }
user_path="$work/sudo:/usr/bin:/bin"

sysctl -q -w net.ipv4.ip_unprivileged_port_start=1024

# Missing: one line that says what and why, then sudo setcap, by its full path, on this file.
as_user "$user_path" "$helper" "$work/built" || fail "exit code $? when the capability was missing"
[ "$(sudo_calls)" = "/usr/sbin/setcap cap_net_bind_service=ep $helper" ] ||
  fail "sudo was asked: $(sudo_calls)"
{ [ "$(wc -l <"$work/log/out")" -eq 1 ] && grep -q 'cap_net_bind_service' "$work/log/out"; } ||
  fail "the explanation: $(cat "$work/log/out")"
rm "$work/log/sudo.calls"

# A new build: the root-owned copy is replaced first, then granted.
cp /bin/false "$work/built"
as_user "$user_path" "$helper" "$work/built" || fail "exit code $? for a new build"
[ "$(sudo_calls)" = "install -D -o root -g root -m 0755 $work/built $helper
/usr/sbin/setcap cap_net_bind_service=ep $helper" ] || fail "sudo was asked: $(sudo_calls)"
rm "$work/log/sudo.calls"
cp /bin/true "$work/built"

# No sudo: the command for root, and a failure, not a silent launch without the capability.
if as_user "$work/nosudo" "$helper"; then fail "succeeded without sudo"; fi
grep -q "as root run: /usr/sbin/setcap cap_net_bind_service=ep $helper" "$work/log/err" ||
  fail "no command for root: $(cat "$work/log/err")"

# Present already, or not needed: nothing asked, nothing said.
setcap cap_net_bind_service=ep "$helper"
as_user "$user_path" "$helper" "$work/built" || fail "exit code $? with the capability present"
{ [ -z "$(sudo_calls)" ] && [ ! -s "$work/log/out" ]; } || fail "asked although the capability is there"
setcap -r "$helper"
sysctl -q -w net.ipv4.ip_unprivileged_port_start=69
as_user "$user_path" "$helper" || fail "exit code $? with port 69 open to all"
{ [ -z "$(sudo_calls)" ] && [ ! -s "$work/log/out" ]; } || fail "asked although port 69 is open to all"
sysctl -q -w net.ipv4.ip_unprivileged_port_start=1024

# Files the user could change, or swap through a folder of theirs: refused, nothing asked.
install -m 755 -o 65534 /bin/true /mnt/libexec/users-own
install -d -m 777 /mnt/open
install -m 755 /bin/true /mnt/open/roots-own
install -m 755 /bin/true "$work/roots-own-below-tmp"
# A group the user is not in may still write there (the user's own -w test says no).
install -d -m 2775 -g daemon /mnt/group
install -m 755 /bin/true /mnt/group/roots-own
for unsafe in /mnt/libexec/users-own /mnt/open/roots-own "$work/roots-own-below-tmp" \
  /mnt/group/roots-own; do
  if as_user "$user_path" "$unsafe"; then fail "granted $unsafe"; fi
  [ -z "$(sudo_calls)" ] || fail "asked for $unsafe: $(sudo_calls)"
  grep -q "refusing $unsafe" "$work/log/err" || fail "no refusal for $unsafe: $(cat "$work/log/err")"
done

# On a nosuid mount the capability would be ignored: say so rather than ask for it.
mkdir -m 755 "$work/nosuid"
mount -t tmpfs -o nosuid,mode=755 zoq-nosuid "$work/nosuid"
cp /bin/true "$work/nosuid/zoq-upgrade-bind"
if as_user "$user_path" "$work/nosuid/zoq-upgrade-bind"; then fail "succeeded on a nosuid mount"; fi
[ -z "$(sudo_calls)" ] || fail "asked on a nosuid mount"
grep -q nosuid "$work/log/err" || fail "no word about nosuid: $(cat "$work/log/err")"
umount "$work/nosuid"

# Root needs nothing.
PATH="$work/sudo:$PATH" "$script" "$helper" "$work/built" >"$work/log/out"
{ [ -z "$(sudo_calls)" ] && [ ! -s "$work/log/out" ]; } || fail "root was asked"
echo "PASS: grant-capability"
