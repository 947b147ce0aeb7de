# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine. Each run gets a prefix of its
# own, linked from one prepared base prefix of the build (wineboot takes half a minute; the
# prefix is 700 MB, so runs share its files by hard links and copy only the registry).
# Needs DISPLAY (Xvfb) before any function is called.

ZOQ_WINE=${ZOQ_WINE:-}
if [ -z "$ZOQ_WINE" ]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then ZOQ_WINE=$candidate; break; fi
  done
fi
[ -n "$ZOQ_WINE" ] || { echo "wine64 is not installed" >&2; exit 1; }
ZOQ_WINESERVER=$(dirname "$ZOQ_WINE")/wineserver
[ -x "$ZOQ_WINESERVER" ] || ZOQ_WINESERVER=$(command -v wineserver)
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all

# zoq_wine_base DIR: prepares DIR once (several runs may ask at the same time).
zoq_wine_base() {
  local base=$1
  mkdir -p "$(dirname "$base")"
  (
    flock 9
    if [ ! -f "$base/.ready" ]; then
      rm -rf "$base"
      WINEPREFIX=$base "$ZOQ_WINE" wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX=$base "$ZOQ_WINESERVER" -w
      # Debian's Wine does not look for its own fonts (fonts-wine) where they are installed:
      # put them where Windows keeps fonts, or every dialog is set in DejaVu Sans, which is
      # wider than MS Sans Serif and wraps or cuts the dialogs' texts.
      if [ -d /usr/share/wine/fonts ]; then
        cp /usr/share/wine/fonts/* "$base/drive_c/windows/Fonts/"
      fi
      # With no window manager under Xvfb, Wine draws the title bars and frames itself, as
      # Windows would: the captions then show in screenshots and xdotool finds the windows.
      printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Decorated"="N"\n"Managed"="N"\n' \
        >"$base.reg"
      WINEPREFIX=$base "$ZOQ_WINE" regedit "$base.reg" >/dev/null 2>&1
      WINEPREFIX=$base "$ZOQ_WINESERVER" -w
      rm -f "$base.reg"
      [ -f "$base/system.reg" ] || { echo "wineboot did not prepare $base" >&2; exit 1; }
      touch "$base/.ready"
    fi
  ) 9>"$base.lock"
}

# zoq_wine_prefix BASE DIR: a fresh prefix in DIR, made from BASE.
zoq_wine_prefix() {
  local base=$1 dir=$2 f
  rm -rf "$dir"
  # Hard links need one file system: where /tmp has its own (a tmpfs, as Debian 13 mounts it),
  # the prefix is copied.
  if ! cp -al "$base" "$dir" 2>/dev/null; then
    rm -rf "$dir"
    cp -a "$base" "$dir"
  fi
  for f in system.reg user.reg userdef.reg; do
    cp --remove-destination "$base/$f" "$dir/$f"
  done
}
