#!/usr/bin/env bash
# Builds and tests everything, the way CI does, in two lanes that run side by
# side (most of the tests wait on servers, X and timers, and the builds fill
# the cores meanwhile):
#   plain: the app with its unit and end-to-end tests in build/, run by ctest;
#   sanitized: the core, the app and their tests with AddressSanitizer and
#     UBSan in build-asan/, and the macOS checks (no build of ours); then the fuzz targets in build-fuzz/ (clang 14's
#     libFuzzer), each over its seed corpus and then for 20 s (skipped without
#     libFuzzer);
# then the test budget: tests may be at most 35% of the code (skipped when the
# shared tool is not beside this checkout).
# The sanitized lane's output follows the plain lane's. Exits non-zero when
# any step failed and ends with a one-line summary.
# Needs no display (the end-to-end tests start their own X server) and, for
# the end-to-end tests, root (they bind-mount test files in a private mount
# namespace). CORVIDALE_BUILD_DIR, CORVIDALE_ASAN_BUILD_DIR and
# CORVIDALE_FUZZ_BUILD_DIR choose other build folders; CORVIDALE_CTEST_JOBS
# runs that many tests at once in each lane (default: three in the plain lane,
# whose package check mostly waits on the Debian mirror, two in the other; the
# longest tests start first).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVIDALE_BUILD_DIR:-$root/build}"
asan_build="${CORVIDALE_ASAN_BUILD_DIR:-$root/build-asan}"
plain_jobs="${CORVIDALE_CTEST_JOBS:-3}"
sanitized_jobs="${CORVIDALE_CTEST_JOBS:-2}"
started=$SECONDS

results="$(mktemp)"
lane_log="$(mktemp)"
failed=0
current=""
lane=""

# Each step runs as a child that can be ended when this script is interrupted;
# the test programs end their own X servers and app runs when they go.
stop_current() {
  if [ -n "$current" ]; then
    kill -TERM "$current" 2>/dev/null
    wait "$current" 2>/dev/null
    current=""
  fi
}
stop_all() {
  stop_current
  if [ -n "$lane" ]; then
    kill -TERM "$lane" 2>/dev/null
    wait "$lane" 2>/dev/null
  fi
}
trap 'stop_all; echo "test.sh: interrupted"; rm -f -- "$results" "$lane_log"; exit 130' INT TERM HUP

# Runs one step and writes its result to the results file, which both lanes share.
step() {
  local name="$1"
  shift
  echo
  echo "=== $name"
  "$@" &
  current=$!
  wait "$current"
  local status=$?
  current=""
  if [ "$status" -eq 0 ]; then
    echo "$name: ok" >>"$results"
  else
    echo "$name: FAILED ($status)" >>"$results"
  fi
  return "$status"
}

summary() {
  echo
  echo "=== summary"
  sed 's/^/  /' "$results"
  local verdict="PASSED"
  grep -q ': FAILED' "$results" && failed=1
  [ "$failed" -eq 0 ] || verdict="FAILED"
  echo "test.sh: $verdict — $(wc -l <"$results") steps, $((SECONDS - started)) s (build: $build, sanitizers: $asan_build)"
  rm -f -- "$results" "$lane_log"
}

if ! step "dependencies" bash "$root/scripts/deps.sh"; then
  summary
  exit 1
fi

plain_lane() {
  step "configure $(basename "$build")" cmake -S "$root" -B "$build" -G Ninja -DCORVIDALE_BUILD_APP=ON \
    -DCORVIDALE_BUILD_E2E=ON &&
    step "build $(basename "$build")" cmake --build "$build" &&
    step "ctest $(basename "$build") (unit + tools + e2e + packaging)" ctest --test-dir "$build" --output-on-failure \
      -LE mac -j "$plain_jobs"
}

# The app and its end-to-end suite are sanitized too: the backend's object
# lifetimes and signal handlers are only exercised by the real app.
sanitized_lane() {
  trap 'stop_current; exit 130' TERM
  # Unity builds here and for the fuzz targets: the heavy headers (JSON, the
  # test framework, GTK) are compiled once per batch instead of once per file,
  # which takes about 40% off. The plain lane builds file by file, so a file
  # that lacks an include of its own still fails there.
  if step "configure $(basename "$asan_build")" cmake -S "$root" -B "$asan_build" -G Ninja -DCORVIDALE_SANITIZE=ON \
    -DCORVIDALE_BUILD_APP=ON -DCORVIDALE_BUILD_E2E=ON -DCMAKE_UNITY_BUILD=ON &&
    step "build $(basename "$asan_build")" cmake --build "$asan_build"; then
    step "ctest $(basename "$asan_build") (unit + tools + e2e sanitized, mac)" ctest --test-dir "$asan_build" \
      --output-on-failure -L 'unit|tools|e2e|mac' -j "$sanitized_jobs"
  fi
  local fuzz_build="${CORVIDALE_FUZZ_BUILD_DIR:-$root/build-fuzz}"
  if echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
    clang++-14 -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
    step "configure $(basename "$fuzz_build")" cmake -S "$root/tests/fuzz" -B "$fuzz_build" -G Ninja \
      -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_UNITY_BUILD=ON &&
      step "build $(basename "$fuzz_build")" cmake --build "$fuzz_build" &&
      step "ctest $(basename "$fuzz_build") (fuzz)" ctest --test-dir "$fuzz_build" --output-on-failure -L fuzz -j 2
  else
    echo "fuzz: skipped (clang++-14 has no libFuzzer)" >>"$results"
  fi
}

sanitized_lane >"$lane_log" 2>&1 &
lane=$!
plain_lane
wait "$lane"
lane=""
echo
echo "=== the sanitized lane's output"
cat "$lane_log"

budget="$root/../shared/tools/test-budget"
if [ -f "$budget" ]; then
  step "test budget" bash -c 'cd "$1" && bash "$2"' budget "$root" "$budget"
else
  echo "test budget: skipped (no $budget)" >>"$results"
fi

summary
exit "$failed"
