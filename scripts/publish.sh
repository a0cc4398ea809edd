#!/usr/bin/env bash
# Publishes a Linux release: signs a copy of a built bundle with the release
# key, packs it into a squashfs image whose top level holds only the bundle,
# and writes the update feed that names the image.
#
#   scripts/publish.sh <built bundle> <private key PEM> <output folder> [feed file name]
#
# The feed file name defaults to linux.json. Upload the image and the feed to
# the same folder of the download site: the feed names the image relative to
# itself. The build folder whose tools are used is CORVIDALE_BUILD_DIR
# (default: build/ in this checkout).
set -euo pipefail

if [ "$#" -lt 3 ] || [ "$#" -gt 4 ]; then
  echo "usage: $0 <built bundle> <private key PEM> <output folder> [feed file name]" >&2
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVIDALE_BUILD_DIR:-$root/build}"
codesign="$build/Corvidale.app/Contents/Helpers/corvidale-codesign"
# A build without the app keeps the helpers in tools/.
[ -x "$codesign" ] || codesign="$build/tools/corvidale-codesign"
release="$build/tools/corvidale-release"
bundle="${1%/}"
key="$2"
out="$3"
# Tools read an argument starting with '-' as an option.
case "$out" in -*) out="./$out" ;; esac
feed_name="${4:-linux.json}"

for tool in "$codesign" "$release" /usr/bin/mksquashfs; do
  [ -x "$tool" ] || { echo "publish.sh: $tool is missing (build first; scripts/deps.sh)" >&2; exit 1; }
done
if [ ! -d "$bundle" ] || [ -L "$bundle" ] || [ ! -f "$bundle/Contents/Info.plist" ]; then
  echo "publish.sh: $bundle is not a bundle (no Contents/Info.plist)" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf -- "$work"' EXIT
# The image's top level: exactly the bundle, under the app's own name.
mkdir -m 0755 "$work/image"
staged="$work/image/Corvidale.app"
cp -a -- "$bundle" "$staged"
"$codesign" sign --key "$key" "$staged"
"$codesign" --verify --deep --strict "$staged"

version="$("$release" info "$staged" CFBundleShortVersionString)"
build_number="$("$release" info "$staged" CFBundleVersion)"
image_name="$(printf '%s' "Corvidale-$version-$build_number" | tr -c 'A-Za-z0-9._-' '_').sqfs"
mkdir -p -- "$out"
rm -f -- "$out/$image_name"
# Owners are not part of a release: every file belongs to whoever installs it.
mksquashfs "$work/image" "$out/$image_name" -noappend -all-root -no-xattrs -quiet -no-progress >/dev/null
"$release" feed "$staged" "$out/$image_name" "$out/$feed_name"
echo "publish.sh: $out/$image_name and $out/$feed_name ($version, build $build_number)"
