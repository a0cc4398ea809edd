#!/usr/bin/env bash
# The real Linux installation of 2.0 (7) over 1.0 (1) under faults: full disks (a small tmpfs as the
# temporary folder and as the app's folder), read-only folders, a temporary folder where nothing may run,
# another user's file or a link to one of the user's own where the lock once lay, a start check that hangs,
# leaves a child holding its output, is killed, cannot run or writes into the app, runs killed while it
# hangs, and each file-system call of one whole installation failing in turn.
# Each time the installed app is exactly the old or the new one, a failure says what went wrong, and the
# next good run installs 2.0 and leaves nothing behind. A light payload keeps the many runs short.
# usage: fault_injection_test.sh <install_driver> <fault shim> <build dir>   (root: it mounts)
set -uo pipefail
[ "$(id -u)" = 0 ] || { echo "skipped: mounting needs root"; exit 77; }
[ -n "${CORVIDALE_IN_NAMESPACE:-}" ] ||
  exec unshare -m --propagation private env CORVIDALE_IN_NAMESPACE=1 bash "$0" "$@"
driver="$(realpath "$1")" shim="$(realpath "$2")" build="$(realpath "$3")"
codesign="$build/Corvidale.app/Contents/Helpers/corvidale-codesign" release="$build/tools/corvidale-release"
work="$(mktemp -d)" && trap 'umount -R "$work/inst" "$work/tmp" 2>/dev/null; rm -rf -- "$work"' EXIT
export TMPDIR="$work/tmp" XDG_CACHE_HOME="$work/cache" installed="$work/inst/Corvidale.app"
mkdir -p "$TMPDIR" "$work/inst"
failures=0 checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The built app with a small script for its executable; 2.0 also as a start check that leaves a child
# holding its output, one that never ends, one that is killed, one that writes into its app, and as an
# executable that may not run.
id="$("$codesign" keygen "$work/key.pem")" || exit 1
# What the start checks leave running is told from what another run of this test leaves by its length.
linger="4711.$$"
for n in 1 7 lingers hangs killed writes unrunnable; do
  app="$work/$n/Corvidale.app"
  mkdir -p "$app" && cp -a "$build/Corvidale.app/." "$app" || exit 1
  case $n in
    lingers) run="sleep $linger &" ;; hangs) run="sleep $linger" ;; killed) run='kill -9 $$' ;;
    writes) run='echo >"$0.log"' ;; *) run='' ;;
  esac
  printf '#!/bin/sh\necho "Corvidale %s"\n%s\n' "$n" "$run" >"$app/Contents/MacOS/corvidale"
  [ "$n" != unrunnable ] || chmod 644 "$app/Contents/MacOS/corvidale"
  build_number=7 && [ "$n" != 1 ] || build_number=1
  "$release" set-info "$app" CFBundleShortVersionString="$build_number.0" CFBundleVersion="$build_number" \
    CorvidaleTeamIdentifier="$id" || exit 1
  [ "$n" = 1 ] || CORVIDALE_BUILD_DIR="$build" "$(dirname "$0")/../../scripts/publish.sh" "$app" "$work/key.pem" \
    "$work/site-$n" >/dev/null || exit 1
done
"$codesign" sign --key "$work/key.pem" "$work/1/Corvidale.app" >/dev/null || exit 1
release_of() { echo "file://$(ls "$work/site-$1"/*.sqfs)" "$(sed -n 's/.*"sha256": "\(.*\)".*/\1/p' "$work/site-$1/linux.json")"; }
read -r url sum <<<"$(release_of 7)"

restore() { rm -rf "$installed" && cp -a "$work/1/Corvidale.app" "$installed"; }
install() { "$driver" "$installed" "${1:-$url}" "${2:-$sum}" 2>/dev/null; }
state() { "$codesign" --verify --deep --strict "$installed" >/dev/null 2>&1 && "$release" info "$installed" CFBundleVersion || echo broken; }
leftovers() { find "$work/inst" "$TMPDIR" -mindepth 1 -maxdepth 1 ! -path "$installed"; }

# attempt <name> <the failure line holds this, or "installed"> <command...>: one run under a fault, 1.0
# installed before.
attempt() {
  local name="$1" expected="$2" line=""
  shift 2
  checks=$((checks + 1))
  line="$("$@")"
  case "$line|$(state)" in
    "installed|7") [ "$expected" = installed ] || [ "${outcome_may_install:-}" = 1 ] || fail "$name: installed" ;;
    *"|1") [[ "$expected" != installed && "$line" == *"$expected"* ]] || fail "$name: \"$line\", not \"$expected\"" ;;
    *) fail "$name: the installed app is $(state) after \"$line\"" ;;
  esac
}
# The next good run, where the faulty one ran: it installs and leaves nothing.
next_run() {
  restore && [ "$(install)" = installed ] && [ "$(state)" = 7 ] || fail "$1: the next run did not install 2.0 (7)"
  [ -z "$(leftovers)" ] || fail "$1: the next run left $(leftovers)"
}

# Full disks: the download does not fit, the extraction does not, the copy beside the app does not.
image_kb="$(du -k "$work"/site-7/*.sqfs | cut -f1)" app_kb="$(du -sk "$work/7/Corvidale.app" | cut -f1)"
for size in "$((image_kb / 2))k|No space left on device" "$((image_kb + app_kb / 2))k|there is no space left in"; do
  mount -t tmpfs -o "size=${size%%|*}" tmpfs "$TMPDIR" && restore
  attempt "temporary folder of ${size%%|*}" "${size#*|}" install
  mount -o remount,size=64m "$TMPDIR" && next_run "temporary folder of ${size%%|*}"
  umount "$TMPDIR"
done
mount -t tmpfs -o "size=$((app_kb * 3 / 2))k" tmpfs "$work/inst" && restore
attempt "app folder of $((app_kb * 3 / 2))k" "couldn't copy the app into $work/inst (" install
mount -o remount,size=64m "$work/inst" && next_run "full app folder"
umount "$work/inst"
# Nothing may run from the temporary folder: the start check runs beside the app. Another user's file where
# the lock once lay, in a folder anyone may write to, blocks nothing.
mount -t tmpfs -o noexec tmpfs "$TMPDIR" && restore
attempt "a temporary folder where nothing may run" installed install
umount "$TMPDIR" && next_run "a temporary folder where nothing may run"
restore && chmod 1777 "$work/inst" && touch "$work/inst/.Corvidale.app.update-lock" &&
  chown 4321:4321 "$work/inst/.Corvidale.app.update-lock"
attempt "another user's file where the lock lay" installed install
rm "$work/inst/.Corvidale.app.update-lock" && chmod 755 "$work/inst" && next_run "another user's file"
restore && echo mine >"$work/notes" && ln "$work/notes" "$work/inst/.Corvidale.app.update-lock"
attempt "a link to the user's file where the lock lay" installed install
[ "$(cat "$work/notes")" = mine ] || fail "a link where the lock lay: the linked file now holds $(cat "$work/notes")"
rm "$work/inst/.Corvidale.app.update-lock" "$work/notes" && next_run "a link to the user's file"
# Read-only folders.
for folder in "$work/inst|$work/inst is not writable" "$TMPDIR|Read-only file system"; do
  restore && mount --bind "${folder%%|*}" "${folder%%|*}" && mount -o remount,bind,ro "${folder%%|*}"
  outcome_may_install='' attempt "read-only ${folder%%|*}" "${folder#*|}" install
  umount "${folder%%|*}" && next_run "read-only ${folder%%|*}"
done

# The start check: a child left holding its output does not hold up the run; one that hangs is stopped at
# 10 s, one that is killed refuses the app, and so does one that may not run or that writes into its app;
# nothing of theirs is left running.
for case in "lingers|installed" "hangs|Gatekeeper refused it" "killed|Gatekeeper refused it" \
  "unrunnable|the system would not run the new app in $work/inst (Permission denied)" \
  "writes|the signature does not verify"; do
  restore && started=$SECONDS
  attempt "start check that ${case%%|*}" "${case#*|}" install $(release_of "${case%%|*}")
  [ $((SECONDS - started)) -lt 20 ] || fail "start check that ${case%%|*}: $((SECONDS - started)) s"
  ! pgrep -f "sleep $linger" >/dev/null || fail "start check that ${case%%|*}: its child is still running"
  next_run "start check that ${case%%|*}"
done

# A run killed while its start check hangs, its temporary folder's name holding a line of digits that names
# an unrelated process group: the next run stops that check, and nothing else. Nor when that check has ended
# and an unrelated process (with a sibling that holds nothing) holds the killed run's folder.
living() { ps -o stat= -s "$1" | grep -cv '^Z'; }  # the processes of a session, less the dead ones
killed_run() {  # <temporary folder>: sets `session`, the killed run's, and `folder`, its own
  restore && mkdir -p "$1"
  TMPDIR="$1" setsid "$driver" "$installed" $(release_of hangs) >/dev/null 2>&1 &
  session=$! && for _ in $(seq 300); do pgrep -s "$session" -f "sleep $linger" >/dev/null && break; sleep 0.1; done
  kill -KILL "$session" && wait "$session" 2>/dev/null
  folder="$(ls -d "$1"/corvidale-update-*)"
}
setsid sleep 4713 & victim=$!
lined="$work/tmp"$'\n'"$victim"$'\n'
killed_run "$lined" && TMPDIR="$lined" attempt "after a run killed in a folder naming a group" installed install
kill -0 "$victim" && [ "$(living "$session")" = 0 ] && [ -z "$(ls -A "$lined")" ] ||
  fail "after a run killed in a folder naming a group: its check or the group lived, or it left $(ls -A "$lined")"
kill "$victim" && rm -r "$lined"
killed_run "$TMPDIR" && check="$(pgrep -s "$session" -f "sleep $linger" | xargs ps -o pgid= -p | tr -d ' ')"
kill -KILL -- -"$check" && for _ in $(seq 100); do pgrep -g "$check" >/dev/null || break; sleep 0.1; done  # reaped too
setsid sh -c 'sleep 4714 & exec flock "$1" sleep 4713' sh "$folder" & holder=$!
for _ in $(seq 100); do pgrep -s "$holder" -f 'sleep 4713' >/dev/null && break; sleep 0.1; done
attempt "a killed run's folder held by another process" installed install
[ "$(living "$holder")" = 3 ] || fail "the holder of a killed run's folder, or its sibling, died"
kill -KILL -- -"$holder" && wait "$holder" 2>/dev/null; next_run "a killed run's folder held by another process"

# Every file-system call of one whole installation fails in turn, with ENOSPC and EIO by turns. The
# staging copy is flushed before the exchange, the app's folder after it.
restore && CORVIDALE_FAULT_LOG="$work/calls" LD_PRELOAD="$shim" install >/dev/null
swap="$(grep -n '^renameat2 ' "$work/calls" | cut -d: -f1)"
head -n "$swap" "$work/calls" | grep '^fsync ' | tail -1 | grep -q " $work/inst/.Corvidale.app.update-" ||
  fail "the staging copy is not flushed before the exchange"
tail -n "+$swap" "$work/calls" | grep -qx "fsync $work/inst" || fail "the app's folder is not flushed after the exchange"
points=0
for family in open write rename renameat2 mkdir fsync; do
  calls="$(grep -c "^$family " "$work/calls")"
  for n in $(seq 1 "$calls"); do
    errno=28 text="No space left on device" && [ $((n % 2)) = 1 ] || errno=5 text="Input/output error"
    # curl names the image it could not open, not why; the candidate's Info.plist unread is an I/O error naming it.
    case "$(grep "^$family " "$work/calls" | sed -n "${n}p")" in
      "open $work/site-7/"*) text="Couldn't open file $work/site-7/" ;;
      "open $TMPDIR/corvidale-update-"*/volume/Corvidale.app/Contents*) text="$text\" UserInfo={NSFilePath=$TMPDIR/" ;;
    esac
    # A failure after the exchange has nothing left to undo: the new app is in place.
    restore && outcome_may_install=1 attempt "$family call $n of $calls failing with $errno" "$text" \
      env LD_PRELOAD="$shim" CORVIDALE_FAULT="$family:$n:$errno" "$driver" "$installed" "$url" "$sum"
    next_run "$family call $n failing"
    points=$((points + 1))
  done
done
echo "$checks faulty runs, $points of them a failing file-system call ($(cut -d' ' -f1 "$work/calls" | sort |
  uniq -c | awk '{printf "%s%s %s", sep, $1, $2; sep=", "}')), each followed by a good run"
echo "$failures failure(s)" && [ "$failures" = 0 ]
