#!/usr/bin/env bash
# Measures what the shell costs, against a minimal GTK 4 + WebKitGTK program
# (the floor), WebKit's MiniBrowser, Chromium's app mode and the plain tools,
# in one run that prints three tables:
#
#   startup  exec -> load and memory, in interleaved rounds (default 10)
#   install  a 1 GiB release installed by the shell's update self-test over a
#            1.0 copy, by phase, with peak RSS of the shell and its helpers,
#            against curl, sha256sum, unsquashfs and cp -a (default 3 rounds)
#   delta    1.0 -> 2.0 of a 1 GiB release where a 50 MB program changed by a few
#            percent and ten small files changed: the full image against a delta
#            (bytes downloaded, total time, the shell's peak RSS)
#   idle     CPU time and wakeups over a minute on the loaded page, against
#            Chromium (default 1 round)
#
#   bench/run.sh [--tables startup,install,idle,delta] [--rounds N] [bench.py options]
#
# Installs what is missing (the project's packages, Chromium, glxinfo), builds
# the shell and its release tools in build-bench/ and the minimal program
# beside it, serves the page (~32 KB) and the release over https on loopback
# with a throw-away CA and runs every program under its own Xvfb. The install
# table needs about 5 GiB free in the temporary folder.
#
# Other options go to bench/bench.py: --install-rounds N, --install-mib N (the
# release's size), --idle-rounds N, --idle-seconds S; --only corvidale,minimal
# to measure some programs, --also NAME=PATH to measure another build of the
# shell beside this one, --env NAME:VAR=VALUE to give one program an
# environment variable, --smaps DIR to keep every process's memory map at the
# moment its memory is read.
#
# Needs root, or unprivileged user namespaces: the test CA is trusted by
# binding a CA bundle over the system's in a private mount namespace
# (WebKitGTK ignores SSL_CERT_FILE, and the shell's libcurl reads that bundle
# too). Chromium is told to ignore certificate errors instead, as it keeps its
# own trust store.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${CORVIDALE_BENCH_BUILD_DIR:-$ROOT/build-bench}
SYSTEM_BUNDLE=/etc/ssl/certs/ca-certificates.crt
PYTHON=/usr/bin/python3

say() { printf '==> %s\n' "$*" >&2; }
fail() { printf 'bench: %s\n' "$*" >&2; exit 1; }

case ${1:-} in -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;; esac

WORK=
BENCH_PID=
cleanup() {
  local status=$? pid
  trap - EXIT INT TERM HUP
  if [[ -n $BENCH_PID ]]; then
    kill -TERM "$BENCH_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$BENCH_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$BENCH_PID" 2>/dev/null || true
    # Whatever it started and could not end itself carries its mark.
    for pid in $(grep -lasF "CORVIDALE_BENCH_RUN=bench$BENCH_PID-" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
      kill -KILL "$pid" 2>/dev/null || true
    done
  fi
  [[ -n $WORK ]] && rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# ---- What it needs -------------------------------------------------------------

bash "$ROOT/scripts/deps.sh" >&2
missing=()
for package in chromium mesa-utils; do
  [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true) == installed ]] || missing+=("$package")
done
if ((${#missing[@]})); then
  say "Installing ${missing[*]}"
  as_root=()
  [[ $(id -u) -eq 0 ]] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" >&2 ||
    { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update >&2 &&
      "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" >&2; }
fi

# ---- Builds ------------------------------------------------------------------------

say "Building the shell in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja --log-level=WARNING -DCORVIDALE_BUILD_TESTS=OFF -DCORVIDALE_BUILD_E2E=OFF >&2
cmake --build "$BUILD" --target corvidale corvidale-codesign corvidale-image corvidale-release -j2 >&2
SHELL_EXE=$BUILD/Corvidale.app/Contents/MacOS/corvidale
[[ -x $SHELL_EXE ]] || fail "the build did not produce $SHELL_EXE"

say "Building the minimal program"
mkdir -p "$BUILD/bench"
# shellcheck disable=SC2046
gcc -O2 -Wall -Wextra -Werror "$ROOT/bench/minimal.c" -o "$BUILD/bench/minimal" \
  $(pkg-config --cflags --libs gtk4 webkitgtk-6.0)

# ---- A certificate authority for this run ----------------------------------------------

WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvidale-bench-ca.XXXXXX")
(
  cd "$WORK"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -keyout ca.key -out ca.pem -subj "/CN=Corvidale bench CA (throw-away)" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
  printf '%s\n' "subjectAltName=DNS:localhost,IP:127.0.0.1" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth" >server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.pem 2>/dev/null
  cat "$SYSTEM_BUNDLE" ca.pem >ca-bundle.crt
)

# ---- The run, inside a mount namespace that trusts the CA -------------------------------

trusting=(sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$WORK/ca-bundle.crt" "$SYSTEM_BUNDLE")
if [[ $(id -u) -eq 0 ]]; then
  trusting=(unshare -m -- "${trusting[@]}")
else
  unshare -r -m true 2>/dev/null || fail "needs root or unprivileged user namespaces (see scripts/demo.sh)"
  trusting=(unshare -r -m -- "${trusting[@]}" unshare --map-user="$(id -u)" --map-group="$(id -g)" --)
fi
say "Measuring (uptime: $(uptime))"
"${trusting[@]}" "$PYTHON" "$ROOT/bench/bench.py" --shell "$SHELL_EXE" --minimal "$BUILD/bench/minimal" \
  --cert "$WORK/server.pem" --key "$WORK/server.key" "$@" &
BENCH_PID=$!
status=0
wait "$BENCH_PID" || status=$?
BENCH_PID=
exit "$status"
