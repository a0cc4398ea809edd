#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Corvidale. Only what is
# missing is installed, and the package lists are refreshed only then, so a
# prepared machine is left alone and needs no network. Recommended packages
# come along on purpose: the engine's media stack (GStreamer plugins, used by
# the camera tests) arrives that way.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config
  # the app
  libgtk-4-dev libwebkitgtk-6.0-dev libcurl4-openssl-dev libidn2-dev nlohmann-json3-dev libssl-dev libplist-dev libzstd-dev
  # Linux releases: squashfs disk images (mksquashfs to publish, unsquashfs to install)
  squashfs-tools
  # the tests
  libcpp-httplib-dev libgtest-dev libgmock-dev libx11-dev
  # the macOS type-check: clang with libc++, GNUstep's Foundation/AppKit headers,
  # GCC's Objective-C runtime headers and the blocks runtime
  clang-14 libc++-14-dev libgnustep-base-dev libgnustep-gui-dev gnustep-make libobjc-12-dev
  libblocksruntime-dev
  # the fuzz targets: clang's libFuzzer
  libclang-rt-14-dev
  # the end-to-end tests: pytest, a display, X tools, screenshots, certificates, namespaces,
  # a private session bus for the single-instance check
  python3 python3-pytest xvfb xdotool x11-utils imagemagick openssl util-linux mount ca-certificates
  fonts-dejavu-core dbus
  # a recording notification server on that bus, for the notification test
  python3-dbusmock
  # the accessibility bus and a reader of its tree, for the progress strip and the notes
  at-spi2-core python3-pyatspi
  # packaging: icons rendered from the drawing, the .deb's library dependencies,
  # desktop entry and metainfo checks, a clean Debian root to install it in
  librsvg2-bin dpkg-dev desktop-file-utils appstream debootstrap curl
)

missing=()
for package in "${packages[@]}"; do
  status="$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)"
  if [ "$status" != "installed" ]; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "deps.sh: all ${#packages[@]} packages are installed"
  exit 0
fi

echo "deps.sh: installing ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "deps.sh: not root and no sudo; install these yourself: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
