#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows release archive as scripts/release-zip makes it: the entries in the order given,
# with the release's time whatever the files' own times, the umask or the time zone, fixed modes,
# and the same bytes from two folders at different paths.
#   check_release_zip.sh SOURCE_DIR
set -euo pipefail
zipper=$1/scripts/release-zip
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
for tool in zip unzip zipinfo; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup release installs it)"
done

# 2026-12-08 18:28:46 UTC, an even second: zip keeps times to two seconds.
epoch=1796754526
# Stand-ins of the three files, written twice with different times, modes and umasks.
make_files() {
  local dir=$1 when=$2 mask=$3
  mkdir -p "$dir"
  (
    umask "$mask"
    printf 'MZ stand-in\n' >"$dir/zoq-upgrade.exe"
    printf 'readme\r\n' >"$dir/README.txt"
    printf 'licence\r\n' >"$dir/LICENSE.txt"
  )
  touch -d "$when" "$dir"/*
}
make_files "$work/one" '2001-02-03 04:05:06' 022
make_files "$work/a/much/longer/path/two" '2030-01-01 00:00:01' 077
chmod 0600 "$work/a/much/longer/path/two/zoq-upgrade.exe"

order=(zoq-upgrade.exe README.txt LICENSE.txt)
(cd "$work/one" && SOURCE_DATE_EPOCH=$epoch TZ=Asia/Tokyo "$zipper" ../one.zip "${order[@]}") ||
  fail "release-zip failed"
dir=$work/a/much/longer/path/two
SOURCE_DATE_EPOCH=$epoch TZ=America/Denver "$zipper" "$work/two.zip" \
  "$dir/zoq-upgrade.exe" "$dir/README.txt" "$dir/LICENSE.txt" || fail "release-zip failed"
cmp "$work/one.zip" "$work/two.zip" || fail "two archives of the same files differ"

[ "$(unzip -Z1 "$work/one.zip" | tr '\n' ' ')" = "${order[*]} " ] ||
  fail "entries: $(unzip -Z1 "$work/one.zip" | tr '\n' ' ')"
# zipinfo -T: mode, ..., time as yyyymmdd.hhmmss (read in UTC), name.
listing=$(TZ=UTC zipinfo -T "$work/one.zip")
for entry in '-rwxr-xr-x .* 20261208.182846 zoq-upgrade.exe' '-rw-r--r-- .* 20261208.182846 README.txt' \
  '-rw-r--r-- .* 20261208.182846 LICENSE.txt'; do
  grep -qE -- "^$entry\$" <<<"$listing" || fail "no entry like '$entry' in:"$'\n'"$listing"
done
# Extra fields would carry the builder's user ids and extended times.
extras=$(zipinfo -v "$work/one.zip" | grep 'length of extra field:' | sort -u)
[ "$extras" = "  length of extra field:                          0 bytes" ] ||
  fail "entries carry extra fields: $extras"
unzip -q "$work/one.zip" -d "$work/out" || fail "unzip cannot read the archive"
cmp "$work/out/README.txt" "$work/one/README.txt" || fail "the archive does not give back its files"

# Without the release time there is no reproducible archive: it refuses.
if (unset SOURCE_DATE_EPOCH && "$zipper" "$work/three.zip" "$work/one/README.txt") 2>/dev/null; then
  fail "release-zip made an archive without SOURCE_DATE_EPOCH"
fi
echo "PASS: the release archive's order, times, modes and bytes"
