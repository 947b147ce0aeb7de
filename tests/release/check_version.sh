#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One version everywhere: the number in project(... VERSION) of CMakeLists.txt against every file
# that writes it by hand (the package changelog, the metainfo release, NEWS.md, the Windows
# manifest, the README's file names), and the release entry of NEWS.md against the metainfo's.
# Lists every disagreement, then fails.
#   check_version.sh SOURCE_DIR
set -euo pipefail
cd "$1"
errors=0
fail() {
  echo "FAIL: $*"
  errors=$((errors + 1))
}

version=$(sed -n 's/^project(zoq_upgrade VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
[[ $version =~ ^[0-9]+\.[0-9]+(\.[0-9]+)?$ ]] || {
  echo "FAIL: no project(zoq_upgrade VERSION X.Y[.Z]) in CMakeLists.txt"
  exit 1
}

# NEWS.md: the top entry is the release, "## VERSION (YYYY-MM-DD)".
news_line=$(grep -m1 '^## ' NEWS.md || true)
[[ $news_line =~ ^##\ ([0-9.]+)\ \(([0-9]{4}-[0-9]{2}-[0-9]{2})\)$ ]] ||
  { echo "FAIL: the top entry of NEWS.md is not '## VERSION (YYYY-MM-DD)': $news_line"; exit 1; }
news_version=${BASH_REMATCH[1]}
date=${BASH_REMATCH[2]}
[ "$news_version" = "$version" ] || fail "NEWS.md's top entry is $news_version, the project is $version"

# The package's changelog: its top entry, with the same day.
changelog=$(head -n 1 packaging/changelog)
[ "$changelog" = "zoq-upgrade ($version) unstable; urgency=medium" ] ||
  fail "packaging/changelog starts with: $changelog"
stamp=$(sed -n '0,/^ -- /s/^ -- .*>  //p' packaging/changelog)
[ "$(date -u -d "$stamp" +%F 2>/dev/null)" = "$date" ] ||
  fail "packaging/changelog's top entry is dated '$stamp', NEWS.md $date"

# The metainfo: its first release has the same version, date and items as NEWS.md's top entry.
metainfo=platform/qt/org.zoq.ZoqUpgrade.metainfo.xml
release=$(grep -m1 '<release ' "$metainfo" || true)
[[ $release == *"version=\"$version\" date=\"$date\""* ]] ||
  fail "the metainfo's first release is not version $version of $date: $release"
# Items, one per line, whitespace collapsed; "&apos;" and the like are not used in either.
news_items=$(awk '/^## /{n++} n==1' NEWS.md |
  awk '/^- /{if (item) print item; item=substr($0, 3); next} /^  /{sub(/^ +/, ""); item=item " " $0} END{if (item) print item}')
meta_items=$(awk '/<release /{n++} n==1' "$metainfo" | tr '\n' ' ' |
  grep -o '<li>[^<]*</li>' | sed 's/^<li>//; s/<\/li>$//; s/  */ /g')
[ -n "$news_items" ] || fail "NEWS.md's top entry lists no changes"
[ "$news_items" = "$meta_items" ] ||
  fail "the metainfo's release items differ from NEWS.md's:"$'\n'"$(diff <(echo "$news_items") <(echo "$meta_items") || true)"

# The Windows manifest's four-part version.
IFS=. read -r major minor patch <<<"$version"
four=$major.$minor.${patch:-0}.0
manifest=$(grep -o 'name="Zoq.Upgrade" version="[^"]*"' platform/win32/zoq-upgrade.manifest || true)
[ "$manifest" = "name=\"Zoq.Upgrade\" version=\"$four\"" ] ||
  fail "platform/win32/zoq-upgrade.manifest: $manifest (expected version $four)"

# Release file names in the README.
while read -r named; do
  fail "README.md names $named (the version is $version)"
done < <(grep -oE 'zoq-upgrade(_|-)[0-9][0-9.]*[0-9](_amd64\.deb|-windows-x64\.zip|\.tar\.gz)' README.md |
  grep -vE "^zoq-upgrade(_|-)${version//./\\.}(_|-|\.tar)" || true)

[ "$errors" = 0 ] || exit 1
echo "PASS: version $version of $date everywhere"
