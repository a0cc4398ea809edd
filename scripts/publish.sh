#!/usr/bin/env bash
# Publishes a Linux release: signs a copy of a built bundle with the release
# key, packs it into a squashfs image whose top level holds only the bundle,
# and writes the update feed that names the image.
#
#   scripts/publish.sh [--republish] [--new-key] [--key <private key PEM>]... [--rollout-hours N
#                      [--rollout-start <UTC time>]] [--expires-days N] [--notes <text file>]
#                      <built bundle> <private key PEM> <output folder> [feed file name]
#
# The feed file name defaults to linux.json. Upload the image and the feed to
# the same folder of the download site: the feed names the image relative to
# itself. The build folder whose tools are used is CORVIDALE_BUILD_DIR
# (default: build/ in this checkout).
#
# Publishing into a live folder is safe at every instant: the image is new,
# named after its own digest, and never rewritten; the feed is replaced last,
# in one rename. The same bundle gives the same image again. A build that the
# feed already names with other bytes is published again only with
# --republish. The key the bundle is signed with must be the key it pins,
# unless --new-key: a release signed with the key the clients pin that moves
# them to the new key it pins. Each --key signs too, for clients that pin
# several keys and want more than one signature. --rollout-hours N spreads the automatic
# installs over N hours from now (or from --rollout-start, e.g.
# 2027-01-15T08:00:00Z); see docs/releasing.md. The feed is signed by the
# same keys (<feed>.sig beside it) and says it expires in 30 days, or
# --expires-days N: publish again before then. --notes puts a UTF-8 text file in
# the feed as the release's notes, which the clients show under "What's new".
set -euo pipefail

usage="usage: $0 [--republish] [--new-key] [--key <PEM>]... [--rollout-hours N [--rollout-start <UTC time>]] [--expires-days N] [--notes <text file>] <built bundle> <private key PEM> <output folder> [feed file name]"
feed_options=()
more_keys=()
expires_days=30
while [ "$#" -gt 0 ]; do
  case "$1" in
    --republish | --new-key) feed_options+=("$1") && shift ;;
    --rollout-hours | --rollout-start | --notes)
      [ "$#" -ge 2 ] || { echo "$usage" >&2; exit 2; }
      feed_options+=("$1" "$2") && shift 2 ;;
    --key)
      [ "$#" -ge 2 ] || { echo "$usage" >&2; exit 2; }
      more_keys+=(--key "$2") && shift 2 ;;
    --expires-days)
      [ "$#" -ge 2 ] || { echo "$usage" >&2; exit 2; }
      expires_days="$2" && shift 2 ;;
    *) break ;;
  esac
done
if [ "$#" -lt 3 ] || [ "$#" -gt 4 ]; then
  echo "$usage" >&2
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

mkdir -p -- "$out"
work="$(mktemp -d)"
packed="$(mktemp "$out/.publish-XXXXXX")" && chmod 0644 "$packed"
trap 'rm -rf -- "$work" "$packed"' EXIT
# The image's top level: exactly the bundle, under the app's own name.
mkdir -m 0755 "$work/image"
staged="$work/image/Corvidale.app"
cp -a -- "$bundle" "$staged"
"$codesign" sign --key "$key" "${more_keys[@]}" "$staged"
"$codesign" --verify --deep --strict "$staged"

version="$("$release" info "$staged" CFBundleShortVersionString)"
build_number="$("$release" info "$staged" CFBundleVersion)"
# Every time the newest of the bundle's own, so that the same bundle packs into the same bytes.
stamp="$(find "$bundle" -printf '%T@\n' | sort -n | tail -n 1 | cut -d. -f1)"
# Owners are not part of a release: every file belongs to whoever installs it.
mksquashfs "$work/image" "$packed" -noappend -all-root -no-xattrs -quiet -no-progress \
  -mkfs-time "$stamp" -all-time "$stamp" >/dev/null
digest="$(sha256sum <"$packed" | cut -c1-16)"
image_name="$(printf '%s' "Corvidale-$version-$build_number" | tr -c 'A-Za-z0-9._-' '_')-$digest.sqfs"
made=""
# A new name only: an image that is there is live, and is the same bytes.
if ln -- "$packed" "$out/$image_name" 2>/dev/null; then made="$out/$image_name"; fi
cmp -s -- "$packed" "$out/$image_name" || { echo "publish.sh: $out/$image_name differs from the new image" >&2; exit 1; }
feed_keys=(--sign-feed "$key")
for ((i = 1; i < ${#more_keys[@]}; i += 2)); do feed_keys+=(--sign-feed "${more_keys[i]}"); done
if ! "$release" feed "${feed_options[@]}" --expires-days "$expires_days" "${feed_keys[@]}" "$staged" \
  "$out/$image_name" "$out/$feed_name"; then
  [ -z "$made" ] || rm -f -- "$made"
  exit 1
fi
echo "publish.sh: $out/$image_name and $out/$feed_name ($version, build $build_number)"
