#!/usr/bin/env bash
# Runs one fuzz target over its seed corpus, then fuzzes it for a fixed time.
# Fails on a crash, a broken property, a sanitizer report, a leak or an input
# that takes over 10 s.
# Usage: run.sh <target binary> <seed folder> <seconds> [libFuzzer options...]
set -euo pipefail
binary="$1" seeds="$2" seconds="$3"
shift 3
name="$(basename "$binary")"
work="$(dirname "$binary")/fuzz-work/$name"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/seeds"
# The targets' scratch files, in memory where there is room: ext4 slows down
# creating and removing so many files.
TMPDIR="$(mktemp -d /dev/shm/corvidale-fuzz.XXXXXX 2>/dev/null || mktemp -d)"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
cp "$seeds"/* "$work/seeds/"
started=$SECONDS
# New inputs go to the work folder, never into the source tree.
"$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$@" "$work/corpus" "$work/seeds" 2>"$work/log" || {
  tail -n 60 "$work/log"
  echo "$name: FAILED (input and log in $work)"
  exit 1
}
runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")"
echo "$name: $runs runs in $((SECONDS - started)) s over $(ls "$work/seeds" | wc -l) seeds, nothing found"
