#!/usr/bin/env bash
# Installs Corvidale for you alone, in folders you can write, so that it can
# update itself (a system-wide install updates through the package manager):
#
#   ~/.local/opt/corvidale/Corvidale.app         the application bundle
#   ~/.local/bin/corvidale                       the launcher, a link to the bundle's executable
#   ~/.local/share/applications/com.corvidale.desktop.desktop   (also opens corvidale:// links)
#   ~/.local/share/icons/hicolor/*/apps/com.corvidale.desktop.{png,svg}
#   ~/.local/share/metainfo/com.corvidale.desktop.metainfo.xml
#
#   scripts/install-user.sh            build what is needed, then install (again)
#   scripts/install-user.sh --remove   remove all of the above
#
# Settings, from the environment:
#   CORVIDALE_BUILD_DIR     build folder (default: build/ in the checkout)
#   CORVIDALE_USER_PREFIX   where to install (default: ~/.local)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${CORVIDALE_BUILD_DIR:-$ROOT/build}
PREFIX=${CORVIDALE_USER_PREFIX:-$HOME/.local}
ID=com.corvidale.desktop
BUNDLE=$PREFIX/opt/corvidale/Corvidale.app
LAUNCHER=$PREFIX/bin/corvidale
DATA=$PREFIX/share

say() { printf '==> %s\n' "$*"; }

# The desktop entry names the application's link scheme (MimeType); this
# install becomes the one that opens those links.
register_links() {
  local type
  command -v xdg-mime >/dev/null || return 0
  for type in $(sed -n 's/^MimeType=//p' "$DATA/applications/$ID.desktop" | tr ';' ' '); do
    xdg-mime default "$ID.desktop" "$type" || true
  done
}

refresh_desktop() {
  if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$DATA/applications" || true; fi
  if [[ -f $DATA/icons/hicolor/index.theme ]] && command -v gtk-update-icon-cache >/dev/null; then
    gtk-update-icon-cache -q "$DATA/icons/hicolor" || true
  fi
}

case ${1:-} in
  "") ;;
  --remove)
    say "Removing Corvidale from $PREFIX"
    rm -rf "$BUNDLE"
    rmdir "$PREFIX/opt/corvidale" 2>/dev/null || true
    # The launcher only if it is ours: a link into the bundle.
    if [[ -L $LAUNCHER && $(readlink "$LAUNCHER") == "$BUNDLE"/* ]]; then rm -f "$LAUNCHER"; fi
    rm -f "$DATA/applications/$ID.desktop" "$DATA/metainfo/$ID.metainfo.xml" \
      "$DATA"/icons/hicolor/*/apps/"$ID".png "$DATA/icons/hicolor/scalable/apps/$ID.svg"
    refresh_desktop
    exit 0
    ;;
  -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
  *) echo "install-user: unknown option: $1 (try --help)" >&2; exit 1 ;;
esac

if [[ -f $ROOT/scripts/deps.sh ]]; then
  say "Checking dependencies (scripts/deps.sh)"
  bash "$ROOT/scripts/deps.sh"
fi
say "Building Corvidale in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja --log-level=WARNING
cmake --build "$BUILD" --target corvidale corvidale-icons

say "Installing into $PREFIX"
cmake --install "$BUILD" --prefix "$PREFIX" --strip
refresh_desktop
register_links

say "Installed: $LAUNCHER -> $(readlink "$LAUNCHER")"
case ":$PATH:" in
  *":$PREFIX/bin:"*) ;;
  *) say "Note: $PREFIX/bin is not on your PATH; the desktop entry works all the same." ;;
esac
