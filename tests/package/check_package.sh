#!/usr/bin/env bash
# Builds the Debian package from a build folder (into a temporary folder, leaving the build's own
# package alone) and checks what a user installs: the files, the dependencies, the postinst that
# gives the bind helper (and only it) its capability, the metainfo and the menu entry, and lintian's verdict.
#   check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/zoq-upgrade_*_*.deb)
{ [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ]; } || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}

listing=$(dpkg-deb -c "$deb")
for path in ./usr/bin/zoq-upgrade ./usr/libexec/zoq-upgrade/zoq-upgrade-bind \
  ./usr/share/applications/zoq-upgrade.desktop \
  ./usr/share/icons/hicolor/32x32/apps/zoq-upgrade.png \
  ./usr/share/icons/hicolor/48x48/apps/zoq-upgrade.png \
  ./usr/share/icons/hicolor/256x256/apps/zoq-upgrade.png \
  ./usr/share/icons/hicolor/scalable/apps/zoq-upgrade.svg \
  ./usr/share/metainfo/org.zoq.ZoqUpgrade.metainfo.xml \
  ./usr/share/doc/zoq-upgrade/copyright ./usr/share/doc/zoq-upgrade/changelog.gz \
  ./usr/share/man/man1/zoq-upgrade.1.gz; do
  grep -q " $path\$" <<<"$listing" || fail "missing $path"
done
for exe in ./usr/bin/zoq-upgrade ./usr/libexec/zoq-upgrade/zoq-upgrade-bind; do
  grep -q "^-rwxr-xr-x root/root .* $exe\$" <<<"$listing" || fail "$exe is not root's and 0755"
done
# Nothing from the build or the tests: only what a user runs.
unexpected=$(grep -v -e ' ./usr/bin/zoq-upgrade$' -e ' ./usr/libexec/zoq-upgrade/zoq-upgrade-bind$' \
  -e ' ./usr/share/' -e '/$' <<<"$listing" || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

# Dependencies as dpkg-shlibdeps found them (versioned library packages), and setcap.
depends=$(dpkg-deb -f "$deb" Depends)
# Built on Debian 13, the Qt libraries carry the names of its 64-bit time transition (t64).
for dep in 'libc6 \(>= ' 'libqt6widgets6(t64)? \(>= ' 'libqt6core6(t64)? \(>= ' 'libstdc\+\+6 \(>= ' \
  'libcap2-bin(,|$)'; do
  grep -qE "(^|, )$dep" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
# Whole outputs go into variables first: under pipefail, grep -q leaving early can end the writer
# with SIGPIPE and fail a check that matched.
description=$(dpkg-deb -f "$deb" Description)
{ grep -q cap_net_bind_service <<<"$description" && grep -q zoq-upgrade-bind <<<"$description"; } ||
  fail "the description does not say which file gets the capability"

# The postinst, run with a setcap that records its arguments instead of touching /usr: the
# helper gets the capability, the program (/usr/bin/zoq-upgrade) none.
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
[ -x "$postinst" ] || fail "no executable postinst"
mkdir "$work/fake"
cat >"$work/fake/setcap" <<FAKE
#!/bin/sh
echo "\$*" >>"$work/setcap.calls"
exit \${FAKE_SETCAP_STATUS:-0}
FAKE
chmod +x "$work/fake/setcap"
PATH="$work/fake:$PATH" "$postinst" configure "" >/dev/null 2>&1 || fail "postinst configure failed"
[ "$(cat "$work/setcap.calls")" = "cap_net_bind_service=ep /usr/libexec/zoq-upgrade/zoq-upgrade-bind" ] ||
  fail "postinst ran: $(cat "$work/setcap.calls")"
rm "$work/setcap.calls"
PATH="$work/fake:$PATH" "$postinst" abort-upgrade 1.0 >/dev/null 2>&1 || fail "postinst abort-upgrade"
[ ! -e "$work/setcap.calls" ] || fail "postinst set the capability outside configure"
# A file system that cannot hold the capability must not leave the package half-installed.
message=$(FAKE_SETCAP_STATUS=1 PATH="$work/fake:$PATH" "$postinst" configure "" 2>&1) ||
  fail "postinst failed when setcap failed"
grep -q 'setcap cap_net_bind_service=ep /usr/libexec/zoq-upgrade/zoq-upgrade-bind' <<<"$message" ||
  fail "postinst did not say what to run: $message"

# Installed for real, in a mount namespace whose /etc, /usr and /var are overlays of this
# test's own (nothing reaches the machine): the group, an administrator's limit to it and that
# limit across a reinstall, then a purge that leaves nothing.
if [ "$(id -u)" -eq 0 ]; then
  unshare --mount --propagation private bash -s "$deb" "$work" >"$work/install.log" 2>&1 <<'INSTALL' ||
set -euo pipefail
deb=$1 work=$2 helper=/usr/libexec/zoq-upgrade/zoq-upgrade-bind
fail() { echo "FAIL: $*"; exit 1; }
for dir in etc usr var; do
  mkdir -p "$work/overlay/$dir-upper" "$work/overlay/$dir-work"
  mount -t overlay "zoq-$dir" -o "lowerdir=/$dir,upperdir=$work/overlay/$dir-upper,workdir=$work/overlay/$dir-work" "/$dir"
done
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
dpkg -i --force-depends "$deb"
getent group zoq-upgrade || fail "no group zoq-upgrade after install"
[ "$(stat -c '%U:%G %a' "$helper")" = "root:root 755" ] || fail "helper is $(stat -c '%U:%G %a' "$helper")"
# Any user may run it by default (without its socket pair it only says so: status 64).
set +e; as_nobody "$helper" 2>/dev/null; code=$?; set -e
[ "$code" -eq 64 ] || fail "an ordinary user could not run the helper (status $code)"
# The documented step, then a reinstall: the group alone may run it, with its capability.
# (the postinst called as dpkg-reconfigure calls it, which needs a working dpkg-query).
dpkg-statoverride --update --add root zoq-upgrade 0750 "$helper"
/var/lib/dpkg/info/zoq-upgrade.postinst configure 1.0
for when in limited reinstalled; do
  [ "$(stat -c '%U:%G %a' "$helper")" = "root:zoq-upgrade 750" ] ||
    fail "$when: helper is $(stat -c '%U:%G %a' "$helper")"
  getcap "$helper" | grep -q cap_net_bind_service || fail "$when: the helper lost its capability"
  if as_nobody "$helper" 2>/dev/null; then fail "$when: a user outside the group ran it"; fi
  set +e
  setpriv --reuid=65534 --regid=65534 --groups="$(getent group zoq-upgrade | cut -d: -f3)" \
    "$helper" 2>/dev/null
  code=$?
  set -e
  [ "$code" -eq 64 ] || fail "$when: a member could not run the helper (status $code)"
  [ "$when" = reinstalled ] || dpkg -i --force-depends "$deb"
done
dpkg --purge zoq-upgrade
if getent group zoq-upgrade; then fail "purge left the group"; fi
if dpkg-statoverride --list "$helper"; then fail "purge left the statoverride"; fi
[ ! -e /usr/libexec/zoq-upgrade ] && [ ! -e /usr/bin/zoq-upgrade ] || fail "purge left files"
echo PASS
INSTALL
    { cat "$work/install.log"; fail "installed package"; }
fi

# Metainfo and menu entry, as a software centre and a desktop read them.
dpkg-deb -x "$deb" "$work/root"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.zoq.ZoqUpgrade.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "metainfo does not validate"; }
grep -q '<launchable type="desktop-id">zoq-upgrade.desktop</launchable>' \
  "$work/root/usr/share/metainfo/org.zoq.ZoqUpgrade.metainfo.xml" || fail "metainfo launchable"
desktop=$work/root/usr/share/applications/zoq-upgrade.desktop
for line in 'Type=Application' 'Exec=zoq-upgrade' 'Icon=zoq-upgrade' 'Terminal=false'; do
  grep -qx "$line" "$desktop" || fail "the menu entry lacks $line"
done
for exe in usr/bin/zoq-upgrade usr/libexec/zoq-upgrade/zoq-upgrade-bind; do
  kind=$(file "$work/root/$exe")
  grep -q 'stripped' <<<"$kind" || fail "cannot read $exe"
  grep -q 'not stripped' <<<"$kind" && fail "$exe is not stripped"
done

# The man page as man shows it: no formatting warnings, and the sections a user looks for.
if command -v man >/dev/null; then
  page=$(MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man1/zoq-upgrade.1.gz" 2>"$work/man.log") ||
    fail "man cannot show the page: $(cat "$work/man.log")"
  [ ! -s "$work/man.log" ] || fail "man warns about the page: $(cat "$work/man.log")"
  for heading in NAME SYNOPSIS DESCRIPTION ENVIRONMENT 'EXIT STATUS' 'SEE ALSO' ZOQ_TRACE \
    cap_net_bind_service; do
    grep -q "$heading" <<<"$page" || fail "the man page lacks $heading"
  done
elif [ -n "${CI:-}" ]; then
  fail "man is missing (scripts/setup release installs man-db)"
fi

# The licence travels as the root's LICENSE says it, word for word.
license_words() { sed 's/^ \.$//' "$1" | tr -s ' \n' '\n' | sed -n '/^Permission$/,$p'; }
diff <(license_words "$work/root/usr/share/doc/zoq-upgrade/copyright") \
  <(license_words "$(dirname "$0")/../../LICENSE") >"$work/license.diff" ||
  fail "the package's licence text is not LICENSE's: $(cat "$work/license.diff")"

if command -v lintian >/dev/null; then
  lintian --fail-on warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian"; }
fi
echo "PASS: $(basename "$deb")"
