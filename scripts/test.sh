#!/usr/bin/env bash
# Builds and tests everything, the way CI does:
#   1. the app with its unit and end-to-end tests in build/, all run by ctest;
#   2. the core and its unit tests with AddressSanitizer and UBSan in build-asan/;
#   3. the fuzz targets in build-fuzz/ (clang 14's libFuzzer), each over its
#      seed corpus and then for 20 s (skipped without libFuzzer);
#   4. the test budget: tests may be at most 35% of the code (skipped when the
#      shared tool is not beside this checkout).
# Exits non-zero when any step failed and ends with a one-line summary.
# Needs no display (the end-to-end tests start their own X server) and, for
# the end-to-end tests, root (they bind-mount test files in a private mount
# namespace). CORVIDALE_BUILD_DIR, CORVIDALE_ASAN_BUILD_DIR and
# CORVIDALE_FUZZ_BUILD_DIR choose other build folders; CORVIDALE_CTEST_JOBS
# runs that many tests at once (default 1).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CORVIDALE_BUILD_DIR:-$root/build}"
asan_build="${CORVIDALE_ASAN_BUILD_DIR:-$root/build-asan}"
ctest_jobs="${CORVIDALE_CTEST_JOBS:-1}"
started=$SECONDS

results=()
failed=0
current=""

# Each step runs as a child that can be ended when this script is interrupted;
# the test programs end their own X servers and app runs when they go.
stop_current() {
  if [ -n "$current" ]; then
    kill -TERM "$current" 2>/dev/null
    wait "$current" 2>/dev/null
    current=""
  fi
}
trap 'stop_current; echo "test.sh: interrupted"; exit 130' INT TERM HUP

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
    results+=("$name: ok")
  else
    results+=("$name: FAILED ($status)")
    failed=1
  fi
  return "$status"
}

summary() {
  echo
  echo "=== summary"
  printf '  %s\n' "${results[@]}"
  local verdict="PASSED"
  [ "$failed" -eq 0 ] || verdict="FAILED"
  echo "test.sh: $verdict — ${#results[@]} steps, $((SECONDS - started)) s (build: $build, sanitizers: $asan_build)"
}

if ! step "dependencies" bash "$root/scripts/deps.sh"; then
  summary
  exit 1
fi

if step "configure $(basename "$build")" cmake -S "$root" -B "$build" -G Ninja -DCORVIDALE_BUILD_APP=ON \
  -DCORVIDALE_BUILD_E2E=ON &&
  step "build $(basename "$build")" cmake --build "$build"; then
  step "ctest $(basename "$build") (unit + e2e)" ctest --test-dir "$build" --output-on-failure -j "$ctest_jobs"
fi

# The same again with AddressSanitizer and UBSan, the app and its end-to-end
# suite included: the backend's object lifetimes and signal handlers are only
# exercised by the real app.
if step "configure $(basename "$asan_build")" cmake -S "$root" -B "$asan_build" -G Ninja -DCORVIDALE_SANITIZE=ON \
  -DCORVIDALE_BUILD_APP=ON -DCORVIDALE_BUILD_E2E=ON &&
  step "build $(basename "$asan_build")" cmake --build "$asan_build"; then
  step "ctest $(basename "$asan_build") (unit + tools + e2e, sanitized)" ctest --test-dir "$asan_build" \
    --output-on-failure -L 'unit|tools|e2e' -j "$ctest_jobs"
fi

fuzz_build="${CORVIDALE_FUZZ_BUILD_DIR:-$root/build-fuzz}"
if echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
  clang++-14 -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
  if step "configure $(basename "$fuzz_build")" cmake -S "$root/tests/fuzz" -B "$fuzz_build" -G Ninja \
    -DCMAKE_CXX_COMPILER=clang++-14 &&
    step "build $(basename "$fuzz_build")" cmake --build "$fuzz_build"; then
    step "ctest $(basename "$fuzz_build") (fuzz)" ctest --test-dir "$fuzz_build" --output-on-failure -L fuzz
  fi
else
  results+=("fuzz: skipped (clang++-14 has no libFuzzer)")
fi

budget="$root/../shared/tools/test-budget"
if [ -f "$budget" ]; then
  step "test budget" bash -c 'cd "$1" && bash "$2"' budget "$root" "$budget"
else
  results+=("test budget: skipped (no $budget)")
fi

summary
exit "$failed"
