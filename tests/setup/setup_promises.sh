#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What scripts/setup promises the machine, checked without the network:
#  - the package sets name each package once, and a server that is unpacked is never installed;
#  - the servers the tests start by hand are unpacked and find their libraries, and none of
#    their services or start links is enabled on this machine;
#  - the real script, run against a stand-in apt-get and dpkg-query with /usr/sbin replaced by
#    a scratch folder (a private mount namespace), keeps an administrator's policy-rc.d, removes
#    its own on success, failure, a held lock and an interrupt, unpacks instead of installing,
#    does nothing the second time, and without root says what to run instead.
#   setup_promises.sh SOURCE_DIR PEERS_DIR
set -euo pipefail

src=$(cd "$1" && pwd)
peers=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

if [ -z "${ZOQ_SETUP_SANDBOX:-}" ]; then
  # ---- Package sets, read here on their own terms: "#" comments, one package or "unpack P".
  declare -A seen=() unpacked=()
  for file in "$src"/scripts/packages/*.txt; do
    set_name=$(basename "$file" .txt)
    while read -r first second extra; do
      [ -n "$first" ] || continue
      name=$first
      if [ "$first" = unpack ]; then
        name=$second
        unpacked[$name]=$set_name
      fi
      [ -z "$extra" ] || fail "$set_name.txt: more than one package on a line: $first $second $extra"
      if [ "$first" != unpack ] && [ -n "$second" ]; then
        fail "$set_name.txt: more than one package on a line: $first $second"
      fi
      if [ -n "${seen[$name]:-}" ]; then
        fail "$name is named in ${seen[$name]} and in $set_name"
      fi
      seen[$name]=$set_name
    done < <(sed 's/#.*//' "$file")
  done
  [ "${#seen[@]}" -gt 0 ] || fail "no packages in $src/scripts/packages"
  pass "each package is named in one set only (${#seen[@]} packages, ${#unpacked[@]} unpacked)"

  # ---- The unpacked servers of the test set, and their libraries.
  while read -r first second _; do
    [ "$first" = unpack ] || continue
    [ -f "$peers/.unpacked/$second" ] || fail "$second is not unpacked in $peers (scripts/setup test)"
  done < <(sed 's/#.*//' "$src/scripts/packages/test.txt")
  if [ -d "$peers/usr" ]; then
    elves=0
    while IFS= read -r -d '' f; do
      [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
      elves=$((elves + 1))
      lost=$(ldd "$f" 2>/dev/null | grep 'not found' || true)
      [ -z "$lost" ] || fail "$f needs a library no set installs: $lost"
    done < <(find "$peers/usr" -type f -print0)
    pass "the unpacked programs and modules find their libraries ($elves checked)"
  fi

  # ---- No service of an unpacked server starts at boot. Its names: the package's own and
  # those of the init scripts and units it ships.
  declare -A services=()
  for p in "${!unpacked[@]}"; do services[$p]=1; done
  for f in "$peers"/etc/init.d/* "$peers"/lib/systemd/system/*.service \
    "$peers"/usr/lib/systemd/system/*.service; do
    [ -e "$f" ] && services[$(basename "$f" .service)]=1
  done
  for s in "${!services[@]}"; do
    for link in /etc/rc[2-5S].d/S[0-9][0-9]"$s" /etc/systemd/system/*.wants/"$s".service \
      /etc/systemd/system/*.wants/"$s".socket; do
      [ -e "$link" ] || [ -L "$link" ] || continue
      fail "$s starts at boot: $link"
    done
    if command -v systemctl >/dev/null 2>&1; then
      state=$(systemctl is-enabled "$s" 2>/dev/null || true)
      case $state in enabled* | linked* | alias*) fail "systemctl is-enabled $s: $state" ;; esac
    fi
  done
  pass "no start link or enabled unit for: ${!services[*]}"
fi

# ---- The real script against stand-ins.
if [ -z "${ZOQ_SETUP_SANDBOX:-}" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  chmod 755 "$tmp"
  # A copy of the script with sets of its own, so that "missing" is decided by the stand-ins.
  mkdir -p "$tmp/tree/scripts/packages" "$tmp/bin" "$tmp/sbin" "$tmp/state"
  cp "$src/scripts/setup" "$tmp/tree/scripts/setup"
  cat >"$tmp/tree/scripts/packages/tools.txt" <<'EOF'
# two ordinary packages
zoq-fake-tool
zoq-fake-lib
EOF
  cat >"$tmp/tree/scripts/packages/servers.txt" <<'EOF'
unpack zoq-fake-server
EOF

  # apt-get: remembers its calls and what policy-rc.d said during an install; behaves as
  # $ZOQ_FAKE_STATE/mode says.
  cat >"$tmp/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
state=$ZOQ_FAKE_STATE
words=()
skip=0
for a in "$@"; do
  if [ "$skip" = 1 ]; then skip=0; continue; fi
  case $a in -o) skip=1 ;; -*) ;; *) words+=("$a") ;; esac
done
echo "${words[*]} frontend=${DEBIAN_FRONTEND:-}" >>"$state/calls"
case ${words[0]} in
update) exit 0 ;;
download)
  for p in "${words[@]:1}"; do
    d=$(mktemp -d)
    mkdir -p "$d/DEBIAN" "$d/usr/sbin" "$d/etc/init.d"
    printf 'Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: nobody <nobody@localhost>\nDescription: stand-in\n' "$p" >"$d/DEBIAN/control"
    printf '#!/bin/sh\necho %s\n' "$p" >"$d/usr/sbin/$p"
    printf '#!/bin/sh\n' >"$d/etc/init.d/$p"
    chmod 755 "$d/usr/sbin/$p" "$d/etc/init.d/$p"
    dpkg-deb -b "$d" "${p}_1.0_all.deb" >/dev/null
    rm -rf "$d"
  done
  exit 0 ;;
install)
  if [ -e /usr/sbin/policy-rc.d ]; then
    /usr/sbin/policy-rc.d lighttpd start
    echo "policy says $?" >>"$state/calls"
    cp /usr/sbin/policy-rc.d "$state/policy-during"
  else
    echo "no policy" >>"$state/calls"
  fi
  case $(cat "$state/mode") in
  ok) printf '%s\n' "${words[@]:1}" >>"$state/installed" ;;
  # As Debian 13 does for the libraries it renamed: a real package that provides the name asked.
  t64) for p in "${words[@]:1}"; do echo "${p}t64 $p" >>"$state/installed"; done ;;
  lie) ;;
  fail) echo "E: Unable to locate package ${words[1]}" >&2; exit 100 ;;
  lock)
    echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 1 (apt-get)" >&2
    exit 100 ;;
  lock-once)
    if [ ! -e "$state/was-locked" ]; then
      touch "$state/was-locked"
      echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 1 (apt-get)" >&2
      exit 100
    fi
    printf '%s\n' "${words[@]:1}" >>"$state/installed" ;;
  hang) touch "$state/in-install"; sleep 60 ;;
  esac ;;
esac
EOF
  # dpkg-query -W -f=FORMAT [P...]: what the stand-in apt-get installed (lines "PACKAGE
  # [PROVIDES]"), all of it without names.
  cat >"$tmp/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
fmt=
names=()
for a in "$@"; do case $a in -W) ;; -f=*) fmt=${a#-f=} ;; *) names+=("$a") ;; esac; done
show() {
  local s=${fmt//'${Package}'/$1}
  s=${s//'${Provides}'/${2:+$2 (= 1.0)}}
  printf '%b' "${s//'${Status}'/install ok installed}"
}
rc=0
if [ ${#names[@]} -eq 0 ] && [ -f "$ZOQ_FAKE_STATE/installed" ]; then
  while read -r p provides; do show "$p" "$provides"; done <"$ZOQ_FAKE_STATE/installed"
fi
for p in "${names[@]}"; do
  read -r q provides < <(grep -E "^$p( |\$)" "$ZOQ_FAKE_STATE/installed" 2>/dev/null) &&
    show "$q" "$provides" && continue
  echo "dpkg-query: no packages found matching $p" >&2
  rc=1
done
exit $rc
EOF
  # apt-cache policy clang: the candidate that Debian 13 has.
  cat >"$tmp/bin/apt-cache" <<'EOF'
#!/bin/sh
printf 'clang:\n  Installed: (none)\n  Candidate: 1:19.0-63\n'
EOF
  chmod 755 "$tmp/bin/apt-get" "$tmp/bin/dpkg-query" "$tmp/bin/apt-cache"

  # Without root and without sudo: one line naming what to run, nothing run.
  mkdir -p "$tmp/nosudo" "$tmp/user"
  ln -s /usr/bin/* "$tmp/nosudo/"
  # Where /bin is not merged into /usr/bin, its programs too (the ones already there win).
  [ -L /bin ] || ln -s /bin/* "$tmp/nosudo/" 2>/dev/null || true
  rm -f "$tmp/nosudo/sudo" "$tmp/nosudo/apt-get" "$tmp/nosudo/dpkg-query"
  ln -s "$tmp/bin/apt-get" "$tmp/bin/dpkg-query" "$tmp/nosudo/"
  chmod 777 "$tmp/user" "$tmp/state"
  : >"$tmp/state/calls"
  chmod 666 "$tmp/state/calls"
  as_user=()
  [ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  set +e
  out=$(env -i PATH="$tmp/nosudo" TMPDIR="$tmp/user" ZOQ_FAKE_STATE="$tmp/state" \
    ZOQ_PEERS_DIR="$tmp/user/peers" "${as_user[@]}" "$tmp/tree/scripts/setup" tools 2>&1)
  rc=$?
  set -e
  expected="su -c 'apt-get update && apt-get install --no-install-recommends zoq-fake-tool zoq-fake-lib'"
  if [ "$rc" -ne 0 ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ $out == *"$expected"* ]] &&
    [ ! -s "$tmp/state/calls" ]; then
    pass "without root or sudo: one line ($out)"
  else
    fail "without root or sudo: exit $rc, apt-get calls: $(cat "$tmp/state/calls"), said: $out"
  fi
  # sudo that refuses (not a sudoer): the same, nothing run.
  printf '#!/bin/sh\necho "sorry, you are not in the sudoers file" >&2\nexit 1\n' >"$tmp/bin/sudo"
  chmod 755 "$tmp/bin/sudo"
  ln -sf "$tmp/bin/sudo" "$tmp/nosudo/sudo"
  : >"$tmp/state/calls"
  set +e
  out=$(env -i PATH="$tmp/nosudo" TMPDIR="$tmp/user" ZOQ_FAKE_STATE="$tmp/state" \
    ZOQ_PEERS_DIR="$tmp/user/peers" "${as_user[@]}" "$tmp/tree/scripts/setup" tools 2>&1)
  rc=$?
  set -e
  if [ "$rc" -ne 0 ] && [[ $out == *"$expected"* ]] && [ ! -s "$tmp/state/calls" ]; then
    pass "sudo refused: says what to run instead"
  else
    fail "sudo refused: exit $rc, apt-get calls: $(cat "$tmp/state/calls"), said: $out"
  fi
  # sudo that agrees, and resets the environment as the real one does: apt-get must still be
  # told not to ask questions.
  # shellcheck disable=SC2016 # the stand-in expands them
  printf '#!/bin/sh
[ "$1" = -v ] && exit 0
exec env -i PATH="$PATH" ZOQ_FAKE_STATE="$ZOQ_FAKE_STATE" "$@"
' \
    >"$tmp/bin/sudo"
  echo ok >"$tmp/state/mode"
  : >"$tmp/state/calls"
  set +e
  out=$(env -i PATH="$tmp/nosudo" TMPDIR="$tmp/user" ZOQ_FAKE_STATE="$tmp/state" \
    ZOQ_PEERS_DIR="$tmp/user/peers" "${as_user[@]}" "$tmp/tree/scripts/setup" tools 2>&1)
  rc=$?
  set -e
  if [ "$rc" -eq 0 ] && grep -qx 'install zoq-fake-tool zoq-fake-lib frontend=noninteractive' "$tmp/state/calls"; then
    pass "through sudo: installs, and apt-get asks nothing"
  else
    fail "through sudo: exit $rc, apt-get calls: $(cat "$tmp/state/calls"), said: $out"
  fi
  rm -f "$tmp/bin/sudo" "$tmp/state/installed"

  # The rest as root of a private mount namespace, where /usr/sbin is the scratch folder.
  ns=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || ns=(unshare --user --map-root-user --mount --propagation private)
  set +e
  ZOQ_SETUP_SANDBOX="$tmp" "${ns[@]}" "$0" "$@"
  rc=$?
  set -e
  [ "$rc" -eq 0 ] || failures=$((failures + 1))
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "all set-up promises hold"
  exit 0
fi

# ---- Inside the namespace.
tmp=$ZOQ_SETUP_SANDBOX
mount --bind "$tmp/sbin" /usr/sbin
policy=/usr/sbin/policy-rc.d
state=$tmp/state
# apt-get must be told by the script itself, not by whoever ran it.
unset DEBIAN_FRONTEND
export ZOQ_FAKE_STATE=$state ZOQ_PEERS_DIR=$tmp/peers TMPDIR=$tmp/tmp ZOQ_SETUP_LOCK_WAIT=2
mkdir -p "$TMPDIR"
PATH=$tmp/bin:$PATH
setup=$tmp/tree/scripts/setup

# Runs the script with the stand-ins in MODE; leaves its exit code in $rc and its words in $out.
run() {
  local mode=$1
  shift
  echo "$mode" >"$state/mode"
  : >"$state/calls"
  rm -f "$state/installed" "$state/policy-during" "$state/was-locked"
  set +e
  out=$("$setup" "$@" 2>&1)
  rc=$?
  set -e
}
admin_policy() { printf '#!/bin/sh\n# the administrator'"'"'s own\nexit 0\n' >"$policy"; }

run ok tools
if [ "$rc" -eq 0 ] && grep -q '^policy says 101$' "$state/calls" && [ ! -e "$policy" ] &&
  grep -q 'frontend=noninteractive' "$state/calls"; then
  pass "install: no service may start during it, policy-rc.d gone after it"
else
  fail "install: exit $rc, policy-rc.d after: $(ls "$policy" 2>&1), calls: $(cat "$state/calls"), said: $out"
fi

# The second time, with everything in place.
echo ok >"$state/mode"
: >"$state/calls"
printf 'zoq-fake-tool\nzoq-fake-lib\n' >"$state/installed"
set +e
out=$("$setup" tools 2>&1)
rc=$?
set -e
if [ "$rc" -eq 0 ] && [ -z "$out" ] && [ ! -s "$state/calls" ]; then
  pass "second run: nothing to do, no apt-get"
else
  fail "second run: exit $rc, calls: $(cat "$state/calls"), said: $out"
fi

# One list for every release: a name with {clang} takes the version of the clang that apt would
# install, and a library that the release renamed counts as installed through the name it
# provides, the second time too.
cat >"$tmp/tree/scripts/packages/release.txt" <<'EOF'
zoq-fake-rt-{clang}-dev
zoq-fake-lib
EOF
run t64 release
if [ "$rc" -eq 0 ] && grep -qx 'install zoq-fake-rt-19-dev zoq-fake-lib frontend=noninteractive' "$state/calls"; then
  : >"$state/calls"
  set +e
  out=$("$setup" release 2>&1)
  rc=$?
  set -e
  if [ "$rc" -eq 0 ] && [ ! -s "$state/calls" ]; then
    pass "one list for every release: clang's version filled in, renamed libraries found installed"
  else
    fail "renamed libraries, second run: exit $rc, calls: $(cat "$state/calls"), said: $out"
  fi
else
  fail "clang's version or renamed libraries: exit $rc, calls: $(cat "$state/calls"), said: $out"
fi

for mode in fail lock lie; do
  run "$mode" tools
  if [ "$rc" -ne 0 ] && grep -q '^policy says 101$' "$state/calls" && [ ! -e "$policy" ]; then
    pass "install that fails ($mode): exit $rc, policy-rc.d removed"
  else
    fail "install that fails ($mode): exit $rc, policy-rc.d after: $(ls "$policy" 2>&1), said: $out"
  fi
done
run lock tools
if [ "$(grep -c 'waiting up to' <<<"$out")" -eq 1 ] && [[ $out == *"still holds the package lock"* ]] &&
  [ "$(grep -c '^install' "$state/calls")" -ge 2 ]; then
  pass "lock held throughout: tried again, told once while waiting, and why it stopped"
else
  fail "lock held throughout: calls: $(cat "$state/calls"), said: $out"
fi
run lock-once tools
if [ "$rc" -eq 0 ] && [ "$(grep -c 'waiting up to' <<<"$out")" -eq 1 ] && [ ! -e "$policy" ] &&
  grep -qx zoq-fake-tool "$state/installed"; then
  pass "lock released while waiting: installed after all"
else
  fail "lock released while waiting: exit $rc, said: $out"
fi
run lie tools
[[ $out == *"zoq-fake-tool is not installed"* ]] || fail "apt-get's success without the packages passed: $out"

for mode in ok fail; do
  admin_policy
  cp "$policy" "$tmp/admin-policy"
  run "$mode" tools
  if cmp -s "$policy" "$tmp/admin-policy" && cmp -s "$state/policy-during" "$tmp/admin-policy"; then
    pass "an administrator's policy-rc.d stays, untouched ($mode)"
  else
    fail "an administrator's policy-rc.d was touched ($mode): now $(cat "$policy" 2>&1)"
  fi
  rm -f "$policy"
done

# Interrupted in the middle of the install (Ctrl-C reaches the whole process group).
echo hang >"$state/mode"
: >"$state/calls"
rm -f "$state/installed" "$state/in-install"
# A command started with & has SIGINT ignored, which a script cannot undo: perl restores it.
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die' setsid "$setup" tools >"$tmp/interrupted.out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do [ -e "$state/in-install" ] && break; sleep 0.05; done
if [ -e "$state/in-install" ] && [ -e "$policy" ]; then
  kill -INT -- "-$pid"
  set +e
  wait "$pid"
  rc=$?
  set -e
  if [ "$rc" -eq 130 ] && [ ! -e "$policy" ]; then
    pass "interrupted install: exit $rc, policy-rc.d removed"
  else
    fail "interrupted install: exit $rc, policy-rc.d after: $(ls "$policy" 2>&1), said: $(cat "$tmp/interrupted.out")"
  fi
else
  fail "interrupted install: the install did not start with policy-rc.d in place"
  kill -KILL -- "-$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
fi
rm -f "$policy"

# A server is unpacked, never installed; a second run does nothing.
run ok tools servers
if [ "$rc" -eq 0 ] && [ -x "$tmp/peers/usr/sbin/zoq-fake-server" ] &&
  [ -f "$tmp/peers/.unpacked/zoq-fake-server" ] && ! grep -q 'install.*zoq-fake-server' "$state/calls" &&
  grep -q '^download zoq-fake-server' "$state/calls"; then
  pass "servers are unpacked into the peers folder, not installed"
else
  fail "unpack: exit $rc, calls: $(cat "$state/calls"), said: $out"
fi
: >"$state/calls"
set +e
out=$("$setup" tools servers 2>&1)
rc=$?
set -e
if [ "$rc" -eq 0 ] && [ ! -s "$state/calls" ]; then
  pass "second run with servers: nothing to do"
else
  fail "second run with servers: exit $rc, calls: $(cat "$state/calls"), said: $out"
fi

[ "$failures" -eq 0 ]
