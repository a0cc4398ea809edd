#!/usr/bin/env bash
# Publishes a Linux release: signs a copy of a built bundle with the release
# key, packs it into a squashfs image whose top level holds only the bundle,
# and writes the update feed that names the image.
#
#   scripts/publish.sh [--republish] [--new-key] [--key <private key PEM>]... [--rollout-hours N
#                      [--rollout-start <UTC time>]] [--expires-days N] [--notes <text file>] [--deltas N]
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
#
# The images of earlier releases in the output folder are where deltas come
# from: one from each of the last N builds below this one (3, or --deltas N; 0
# makes none), the newest image of each build, named after its digest like the
# images and listed in the feed. A client of one of those builds downloads only
# what changed, and takes the full image when the delta fails in any way.
set -euo pipefail

usage="usage: $0 [--republish] [--new-key] [--key <PEM>]... [--rollout-hours N [--rollout-start <UTC time>]] [--expires-days N] [--notes <text file>] [--deltas N] <built bundle> <private key PEM> <output folder> [feed file name]"
feed_options=()
more_keys=()
expires_days=30
deltas=3
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
    --deltas)
      [ "$#" -ge 2 ] && [[ $2 =~ ^[0-9]{1,3}$ ]] || { echo "$usage" >&2; exit 2; }
      deltas="$((10#$2))" && shift 2 ;;
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
# What this run put in the folder under a new name goes again unless the feed names it.
made=() temporary=("$packed") published=""
trap 'rm -rf -- "$work" "${temporary[@]}"; [ -n "$published" ] || rm -f -- "${made[@]}"' EXIT
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
# A new name only: a file that is there is live, and is the same bytes.
place() {
  if ln -- "$1" "$out/$2" 2>/dev/null; then made+=("$out/$2"); fi
  cmp -s -- "$1" "$out/$2" || { echo "publish.sh: $out/$2 differs from the new file" >&2; exit 1; }
}
place "$packed" "$image_name"

# The newest image of each earlier build below this one, read from the bundle's Info.plist inside it.
declare -A earlier=()
mkdir -p "$work/old/Corvidale.app/Contents"
for old_image in "$out"/*.sqfs; do
  [ "$deltas" -gt 0 ] && [ -f "$old_image" ] && [ "${old_image##*/}" != "$image_name" ] || continue
  if ! unsquashfs -cat "$old_image" Corvidale.app/Contents/Info.plist 2>/dev/null | head -c 1048577 \
    >"$work/old/Corvidale.app/Contents/Info.plist" ||
    ! old_build="$("$release" info "$work/old/Corvidale.app" CFBundleVersion 2>/dev/null)" ||
    ! [[ $old_build =~ ^[0-9]{1,18}$ ]]; then
    echo "publish.sh: no delta from $old_image: it holds no readable Corvidale.app/Contents/Info.plist" >&2
    continue
  fi
  old_build="$((10#$old_build))"
  [ "$old_build" -lt "$build_number" ] || continue
  if [ -z "${earlier[$old_build]:-}" ] || [ "$old_image" -nt "${earlier[$old_build]}" ]; then
    earlier[$old_build]="$old_image"
  fi
done
delta_options=() froms=""
for old_build in $(printf '%s\n' "${!earlier[@]}" | sort -rn | head -n "$deltas"); do
  file="$(mktemp "$out/.publish-XXXXXX")" && temporary+=("$file" "$file.new")
  "$release" delta --from "${earlier[$old_build]}" --to "$out/$image_name" -o "$file" >/dev/null
  chmod 0644 "$file"
  delta_name="$(printf '%s' "Corvidale-$version-$build_number-from-$old_build" | tr -c 'A-Za-z0-9._-' '_')"
  delta_name="$delta_name-$(sha256sum <"$file" | cut -c1-16).delta"
  place "$file" "$delta_name"
  delta_options+=(--delta "$old_build" "$out/$delta_name") froms+=" $old_build"
done

feed_keys=(--sign-feed "$key")
for ((i = 1; i < ${#more_keys[@]}; i += 2)); do feed_keys+=(--sign-feed "${more_keys[i]}"); done
"$release" feed "${feed_options[@]}" "${delta_options[@]}" --expires-days "$expires_days" "${feed_keys[@]}" \
  "$staged" "$out/$image_name" "$out/$feed_name" || exit 1
published=1
echo "publish.sh: $out/$image_name and $out/$feed_name ($version, build $build_number; deltas from builds:${froms:- none})"
