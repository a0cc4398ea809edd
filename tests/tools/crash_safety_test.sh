#!/usr/bin/env bash
# The real Linux installation, SIGKILLed at points spread evenly over its run.
# After each kill the installed path must hold a whole bundle that verifies,
# the old one or the new one; the next run must install the new one and leave
# nothing behind, whatever the killed run left.
# usage: crash_safety_test.sh <install_driver> <build dir>
set -uo pipefail
driver="$(realpath "$1")" build="$(realpath "$2")"
helpers="$build/Corvidale.app/Contents/Helpers" release="$build/tools/corvidale-release"
work="$(mktemp -d)"
trap 'rm -rf -- "$work"' EXIT
export TMPDIR="$work/tmp"
installed="$work/inst/Corvidale.app"
mkdir -p "$TMPDIR" "$work/inst"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1.0 (1) installed, 2.0 (7) published, both with many small files and a large
# one so that every step of the run takes a while.
id="$("$helpers/corvidale-codesign" keygen "$work/key.pem")" || exit 1
for build_number in 1 7; do
  app="$work/$build_number/Corvidale.app"
  mkdir -p "$app" && cp -a "$build/Corvidale.app/." "$app" && mkdir "$app/Contents/Resources" || exit 1
  head -c 20M /dev/urandom >"$app/Contents/Resources/large"
  for i in $(seq 1500); do echo "$i" >"$app/Contents/Resources/small-$i"; done
  "$release" set-info "$app" CFBundleShortVersionString="$build_number.0" CFBundleVersion="$build_number" \
    CorvidaleTeamIdentifier="$id" || exit 1
done
"$helpers/corvidale-codesign" sign --key "$work/key.pem" "$work/1/Corvidale.app" >/dev/null || exit 1
CORVIDALE_BUILD_DIR="$build" "$(dirname "$0")/../../scripts/publish.sh" "$work/7/Corvidale.app" "$work/key.pem" \
  "$work/site" >/dev/null || exit 1
image="file://$(ls "$work"/site/*.sqfs)"
sha="$(/usr/bin/python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["sha256"])' "$work/site/linux.json")"

restore() { rm -rf "$installed" && cp -a "$work/1/Corvidale.app" "$installed"; }
install() { [ "$("$driver" "$installed" "$image" "$sha")" = installed ]; }
# The installed build when the bundle is whole and verifies.
state() {
  "$helpers/corvidale-codesign" --verify --deep --strict "$installed" >/dev/null 2>&1 &&
    "$release" info "$installed" CFBundleVersion || echo broken
}
leftovers() { find "$work/inst" "$TMPDIR" -mindepth 1 -maxdepth 1 ! -path "$installed" ! -name 'corvidale-download-*'; }
now() { date +%s%N; }

# The kills spread over the longest of three whole runs, and a little past it.
total=0
for _ in 1 2 3; do
  restore && start="$(now)"
  install || fail "an uninterrupted run"
  took=$((($(now) - start) * 11 / 10000)) && [ "$took" -lt "$total" ] || total="$took"  # microseconds
done
points=40 old=0 new=0 dirty=0 images=0 finished=0
for i in $(seq 0 $((points - 1))); do
  restore
  delay=$((total * (2 * i + 1) / (2 * points)))
  setsid "$driver" "$installed" "$image" "$sha" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
  kill -KILL "$pid" 2>/dev/null || finished=$((finished + 1))
  wait "$pid" 2>/dev/null
  # Its tools run on, as after a real crash; the next run comes after them.
  while pgrep -s "$pid" >/dev/null; do sleep 0.05; done
  case "$(state)" in
    1) old=$((old + 1)) ;;
    7) new=$((new + 1)) ;;
    *) fail "killed after ${delay} µs: the installed app is $(state)" ;;
  esac
  [ -z "$(leftovers)" ] || dirty=$((dirty + 1))
  images=$((images + $(find "$TMPDIR" -name 'corvidale-download-*' | wc -l)))
  rm -f "$TMPDIR"/corvidale-download-*
  install && [ "$(state)" = 7 ] || fail "killed after ${delay} µs: the next run did not install 2.0 (7)"
  [ -z "$(leftovers)" ] || fail "killed after ${delay} µs: the next run left $(leftovers)"
done
echo "$points kills spread over ${total} µs ($finished came after the end): 1.0 installed after $old, 2.0 after" \
  "$new; $dirty left a staging copy or mount directory (all removed by the next run), $images a downloaded image"
echo "$failures failure(s)"
[ "$failures" = 0 ]
