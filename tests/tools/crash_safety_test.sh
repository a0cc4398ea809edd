#!/usr/bin/env bash
# The real Linux installation of 2.0 (7) over 1.0 (1), SIGKILLed at 40 points (or as many as the third
# argument says) spread over its run: each time the installed app must be whole and verify (old or
# new), and the next run, started while the killed run's tools may still be running, must stop them,
# install 2.0 (unless the killed run did) and leave nothing behind, every other time with another
# temporary folder than the killed run's. That folder's name holds a line of digits naming the process
# group of an unrelated process, which must survive it all. With "delta", every run installs from a delta
# from 1.0, which an uninterrupted run must use.
# usage: crash_safety_test.sh <install_driver> <build dir> [points] [delta]
set -uo pipefail
driver="$(realpath "$1")" build="$(realpath "$2")"
codesign="$build/Corvidale.app/Contents/Helpers/corvidale-codesign" release="$build/tools/corvidale-release"
work="$(mktemp -d)"
setsid sleep 4716 & victim=$!
killed_tmp="$work/tmp"$'\n'"$victim"$'\n' other_tmp="$work/tmp2"
export TMPDIR="$killed_tmp" XDG_CACHE_HOME="$work/cache" installed="$work/inst/Corvidale.app"
trap 'kill "$victim"; rm -rf -- "$work"' EXIT
mkdir -p "$TMPDIR" "$other_tmp" "$work/inst"
failures=0 old=0 new=0 dirty=0 images=0 finished=0 running=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Many small files and a large one, so that every step takes a while; 7's large file is 1's, patched.
id="$("$codesign" keygen "$work/key.pem")" && head -c 12M /dev/urandom >"$work/large" || exit 1
for n in 1 7; do
  app="$work/$n/Corvidale.app"
  mkdir -p "$app" && cp -a "$build/Corvidale.app/." "$app" && mkdir "$app/Contents/Resources" || exit 1
  cp "$work/large" "$app/Contents/Resources/large" && echo "$n" >>"$app/Contents/Resources/large"
  seq 700 | xargs -I{} touch "$app/Contents/Resources/{}"
  "$release" set-info "$app" CFBundleShortVersionString="$n.0" CFBundleVersion="$n" CorvidaleTeamIdentifier="$id" || exit 1
done
"$codesign" sign --key "$work/key.pem" "$work/1/Corvidale.app" >/dev/null &&
  CORVIDALE_BUILD_DIR="$build" "$(dirname "$0")/../../scripts/publish.sh" "$work/7/Corvidale.app" "$work/key.pem" \
    "$work/site" >/dev/null || exit 1
args=("$installed" "file://$(ls "$work"/site/*.sqfs)" "$(sed -n 's/.*"sha256": "\(.*\)".*/\1/p' "$work/site/linux.json")")
if [ "${4:-}" = delta ]; then
  CORVIDALE_BUILD_DIR="$build" "$(dirname "$0")/../../scripts/publish.sh" "$work/1/Corvidale.app" "$work/key.pem" \
    "$work/site1" >/dev/null && "$release" delta --from "$(ls "$work"/site1/*.sqfs)" --to "${args[1]#file://}" \
    -o "$work/site/1-7.delta" >/dev/null || exit 1
  args+=("file://$work/site/1-7.delta" "$(sha256sum <"$work/site/1-7.delta" | cut -c1-64)")
fi

restore() { rm -rf "$installed" && cp -a "$work/1/Corvidale.app" "$installed"; }
# Installs, or finds that a killed run did; the next run every other time with the other temporary folder.
install() {
  local said && said="$(TMPDIR="${1:-$TMPDIR}" "$driver" "${args[@]}")"
  [ "$said" = installed ] || [[ "${2:-} $said" == "7 "*"which is not newer than build 7\")" ]]
}
state() { "$codesign" --verify --deep --strict "$installed" >/dev/null 2>&1 && "$release" info "$installed" CFBundleVersion || echo broken; }
leftovers() { find "$work/inst" "$killed_tmp" "$other_tmp" -mindepth 1 -maxdepth 1 ! -path "$installed"; }
now() { date +%s%N; }
# A killed tool stays a zombie until its adopter reaps it (slow in a container); zombies hold nothing.
living() { ps -o pid=,stat=,args= -s "$1" 2>/dev/null | awk '$2 !~ /^Z/'; }

# The kills spread over a whole run's length, and a little past it: the mean of the last runs, as the
# machine's load comes and goes.
restore && start="$(now)" && { install 2>"$work/said" || fail "an uninterrupted run"; }
[ ! -s "$work/said" ] || fail "an uninterrupted run said: $(cat "$work/said")"
total=$((($(now) - start) / 1000)) points="${3:-40}"
for i in $(seq 0 $((points - 1))); do
  restore
  delay=$((total * (2 * i + 1) / (2 * points)))
  setsid "$driver" "${args[@]}" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
  kill -KILL "$pid" 2>/dev/null || finished=$((finished + 1))
  wait "$pid" 2>/dev/null
  [ -n "$(living "$pid")" ] && running=$((running + 1))  # its tools run on, as after a real crash
  case "$(state)" in
    1) old=$((old + 1)) ;;
    7) new=$((new + 1)) ;;
    *) fail "killed after ${delay} µs: the installed app is $(state)" ;;
  esac
  [ -z "$(leftovers)" ] || dirty=$((dirty + 1))
  [ -z "$(find "$TMPDIR" -name 'corvidale-download-*')" ] || images=$((images + 1))
  next_tmp="$killed_tmp" && [ $((i % 2)) = 0 ] || next_tmp="$other_tmp"
  ran="" before="$(state)" start="$(now)" && install "$next_tmp" "$before" && ran="$(now)" && [ "$(state)" = 7 ] ||
    fail "killed after ${delay} µs: the next run did not install 2.0 (7)"
  total=$(((2 * total + (${ran:-$(now)} - start) * 11 / 10000) / 3))
  # A tool spawned the instant before its run could record it is unverified: the run after the next removes it.
  [ -z "$(leftovers)" ] || install "$next_tmp" 7; [ -z "$(leftovers)" ] || fail "killed after ${delay} µs: runs left $(leftovers)"
  [ -z "$(living "$pid")" ] || fail "killed after ${delay} µs: its tools outlived the next run: $(living "$pid")"
  kill -0 "$victim" || fail "killed after ${delay} µs: the next run killed an unrelated process group"
done
echo "$points kills over about ${total} µs ($finished after the end): 1.0 in place after $old, 2.0 after $new;" \
  "$running with its tools still running; $dirty left something ($images a downloaded image), removed by the next run"
echo "$failures failure(s)" && [ "$failures" = 0 ]
