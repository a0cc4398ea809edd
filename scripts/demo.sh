#!/usr/bin/env bash
# Builds Corvidale and its demo web application, serves the demo over https
# with a throw-away certificate authority, and opens the shell on it.
#
#   scripts/demo.sh              with a display: the shell opens on your desktop;
#                                close its window (or press Ctrl+C) to stop
#   scripts/demo.sh --headless   no window: run the shell under Xvfb, take a
#                                screenshot once the page is up, print its path
#
# With no display at all (a server, CI) --headless is implied.
#
# The demo certificate authority is trusted by the shell alone: the app runs in
# a private mount namespace where a CA bundle with the demo CA added is bound
# over /etc/ssl/certs/ca-certificates.crt. The system's trust store is never
# changed. (The web engine ignores SSL_CERT_FILE, hence the namespace.)
#
# Settings, from the environment:
#   CORVIDALE_BUILD_DIR        build folder (default: build/ in the checkout)
#   CORVIDALE_DEMO_PORT        port to serve on (default: any free port)
#   CORVIDALE_DEMO_SCREENSHOT  where --headless puts the picture
#                              (default: <build folder>/demo-screenshot.png)
#   CORVIDALE_DEMO_TIMEOUT     seconds --headless waits for the page (default: 120)
#   CORVIDALE_DEMO_THEME       light or dark: the page's theme to start in
#                              (default: the one it remembers, else dark)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${CORVIDALE_BUILD_DIR:-$ROOT/build}
case $BUILD in /*) ;; *) BUILD=$PWD/$BUILD ;; esac
WEB_ROOT=$ROOT/demo/web
PORT=${CORVIDALE_DEMO_PORT:-0}
SCREENSHOT=${CORVIDALE_DEMO_SCREENSHOT:-$BUILD/demo-screenshot.png}
TIMEOUT=${CORVIDALE_DEMO_TIMEOUT:-120}
THEME=${CORVIDALE_DEMO_THEME:-}
SYSTEM_BUNDLE=/etc/ssl/certs/ca-certificates.crt

if [[ -t 1 ]]; then
  say() { printf '\033[1m==> %s\033[0m\n' "$*"; }
else
  say() { printf '==> %s\n' "$*"; }
fi
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

headless=0
for arg in "$@"; do
  case $arg in
    --headless) headless=1 ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) fail "unknown option: $arg (try --help)" ;;
  esac
done
[[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]] && headless=1
[[ $TIMEOUT =~ ^[0-9]+$ ]] || fail "CORVIDALE_DEMO_TIMEOUT must be a number of seconds: $TIMEOUT"
[[ -z $THEME || $THEME == light || $THEME == dark ]] || fail "CORVIDALE_DEMO_THEME must be light or dark: $THEME"

# ---- Everything started here is ended here ----------------------------------

WORK=
SERVER_PID=
XVFB_PID=
APP_PID=

# Whether a process is still running (a zombie waiting to be reaped is not).
running() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) || return 1
  [[ -n $state && $state != Z ]]
}

# Sends TERM, gives the process a few seconds, then KILL. A negative id means
# the whole process group: the app and the web engine's helper processes,
# which may outlive it for a moment.
stop() {
  local target=$1 pid=${1#-} i
  kill -TERM -- "$target" 2>/dev/null || true
  for ((i = 0; i < 50; i++)); do
    running "$pid" || break
    sleep 0.1
  done
  kill -KILL -- "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [[ $target == -* ]]; then
    for ((i = 0; i < 30; i++)); do
      kill -0 -- "$target" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "$target" 2>/dev/null || true
  fi
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [[ -n $APP_PID ]] && stop "-$APP_PID"
  [[ -n $SERVER_PID ]] && stop "$SERVER_PID"
  [[ -n $XVFB_PID ]] && stop "$XVFB_PID"
  [[ -n $WORK ]] && rm -rf "$WORK"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---- Dependencies and build ---------------------------------------------------

if [[ -f $ROOT/scripts/deps.sh ]]; then
  say "Checking dependencies (scripts/deps.sh)"
  bash "$ROOT/scripts/deps.sh"
fi
for tool in cmake ninja openssl unshare mount; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done

# Unprivileged runs need a user namespace to make the mount namespace. Find
# out now rather than after a long build.
if [[ $(id -u) -ne 0 ]] && ! unshare -r -m true 2>/dev/null; then
  cat >&2 <<'EOF'
demo: this system does not let ordinary users create user namespaces.

The demo's certificate authority is trusted inside a private mount namespace
only, so nothing on the system changes; without root that namespace needs an
unprivileged user namespace. Either:
  - run the demo as root, keeping your display:
        sudo --preserve-env=DISPLAY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,XAUTHORITY scripts/demo.sh
  - or allow user namespaces (as root), then run the demo again:
        sysctl -w kernel.unprivileged_userns_clone=1               # Debian kernels
        sysctl -w user.max_user_namespaces=15000                   # if it is 0
        sysctl -w kernel.apparmor_restrict_unprivileged_userns=0   # Ubuntu 23.10 and later
EOF
  exit 1
fi

if [[ -f $BUILD/CMakeCache.txt ]] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$BUILD/CMakeCache.txt"; then
  fail "$BUILD was configured with another generator than Ninja; remove it or set CORVIDALE_BUILD_DIR"
fi
say "Building Corvidale in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja --log-level=WARNING
targets=(corvidale)
SERVER=$BUILD/demo/corvidale-demo-server
# (grep reads to the end here: with -q it could quit early and fail ninja
# with SIGPIPE, which pipefail would report as "not found".)
if ninja -C "$BUILD" -t targets all | grep '^corvidale-demo-server:' >/dev/null; then
  targets+=(corvidale-demo-server)
else
  # The top-level project does not include demo/ (yet): build the server on
  # its own.
  cmake -S "$ROOT/demo" -B "$BUILD/demo-standalone" -G Ninja --log-level=WARNING
  ninja -C "$BUILD/demo-standalone" corvidale-demo-server
  SERVER=$BUILD/demo-standalone/corvidale-demo-server
fi
ninja -C "$BUILD" "${targets[@]}"
APP=$BUILD/Corvidale.app/Contents/MacOS/corvidale
[[ -x $APP ]] || fail "the build did not produce $APP"
[[ -x $SERVER ]] || fail "the build did not produce $SERVER"

# ---- A certificate authority that lives as long as this run ------------------

WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvidale-demo.XXXXXX")
say "Making a throw-away certificate authority in $WORK"
(
  cd "$WORK"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -keyout ca.key -out ca.pem -subj "/CN=Corvidale demo CA (throw-away)" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
  printf '%s\n' "subjectAltName=DNS:localhost,IP:127.0.0.1" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth" >server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.pem 2>/dev/null
  [[ -f $SYSTEM_BUNDLE ]] || { echo "demo: $SYSTEM_BUNDLE is missing (package ca-certificates)" >&2; exit 1; }
  cat "$SYSTEM_BUNDLE" ca.pem >ca-bundle.crt
)

# ---- The demo server ------------------------------------------------------------

"$SERVER" --root "$WEB_ROOT" --cert "$WORK/server.pem" --key "$WORK/server.key" \
  --port "$PORT" --other-port 0 >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
URL=
for ((i = 0; i < 100; i++)); do
  URL=$(grep -o 'ready at https://localhost:[0-9]*/' "$WORK/server.log" | sed 's/^ready at //') || true
  [[ -n $URL ]] && break
  running "$SERVER_PID" || { cat "$WORK/server.log" >&2; fail "the demo server did not start"; }
  sleep 0.1
done
[[ -n $URL ]] || { cat "$WORK/server.log" >&2; fail "the demo server did not report its address"; }
say "Serving the demo at $URL"
# The page takes its starting theme from the query; the origin may carry one.
ORIGIN=$URL${THEME:+?theme=$THEME}

# ---- Running the shell with the demo CA trusted ----------------------------------

# The command that runs a program with the CA bundle in place, in a mount
# namespace of its own. As root that is a plain private mount namespace.
# Otherwise a user namespace (where we are root) makes the mount, and a second
# one nested in it maps us back to our own user id, so the app meets the
# desktop (session bus, files it writes) as the user who ran the demo.
trusting=(sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$WORK/ca-bundle.crt" "$SYSTEM_BUNDLE")
if [[ $(id -u) -eq 0 ]]; then
  trusting=(unshare -m -- "${trusting[@]}")
else
  trusting=(unshare -r -m -- "${trusting[@]}" unshare --map-user="$(id -u)" --map-group="$(id -g)" --)
fi

if [[ $headless -eq 0 ]]; then
  say "Opening Corvidale on $URL. Close its window to end the demo."
  set +e
  CORVIDALE_ORIGIN=$ORIGIN "${trusting[@]}" "$APP"
  status=$?
  set -e
  say "Corvidale exited with status $status; stopping the demo server."
  exit "$status"
fi

# ---- No display: Xvfb, wait for the page, screenshot -------------------------------

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done
say "No display in use: running Corvidale under Xvfb"
# Xvfb picks a free display itself and writes its number once it accepts
# connections.
: >"$WORK/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
display=
for ((i = 0; i < 100; i++)); do
  display=$(tr -dc '0-9' <"$WORK/display")
  [[ -n $display ]] && break
  running "$XVFB_PID" || { cat "$WORK/xvfb.log" >&2; fail "Xvfb did not start"; }
  sleep 0.1
done
[[ -n $display ]] || fail "Xvfb did not report a display"
export DISPLAY=:$display

# A home of its own, so a headless run leaves nothing behind in yours.
home=$WORK/home
mkdir -p "$home/Downloads" "$home/.config" "$home/.local/share" "$home/.cache" "$home/runtime"
chmod 700 "$home/runtime"
# No session bus at all: with one, the web engine may start a desktop portal,
# which on a bare machine ends with the app being killed. A runtime folder of
# its own keeps it from finding a desktop's bus there when run with --headless.
setsid env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY GDK_BACKEND=x11 \
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/runtime" CORVIDALE_ORIGIN="$ORIGIN" \
  "${trusting[@]}" "$APP" >"$WORK/app.log" 2>&1 &
APP_PID=$!

say "Waiting for the page (up to $TIMEOUT s)"
loaded=0
for ((i = 0; i < TIMEOUT * 5; i++)); do
  if grep -q 'page loaded' "$WORK/server.log"; then loaded=1; break; fi
  if ! running "$APP_PID"; then
    wait "$APP_PID" 2>/dev/null && status=0 || status=$?
    APP_PID=
    echo "--- app output ---" >&2; cat "$WORK/app.log" >&2
    fail "Corvidale ended (status $status) before the page loaded"
  fi
  sleep 0.2
done
if [[ $loaded -eq 0 ]]; then
  echo "--- app output ---" >&2; cat "$WORK/app.log" >&2
  echo "--- server log ---" >&2; cat "$WORK/server.log" >&2
  fail "the page did not load within $TIMEOUT s"
fi
sed -n 's/^corvidale-demo-server: //p' "$WORK/server.log" | grep '^page '

# The page reports after its own paint; give the window a moment to show it.
sleep 1
mkdir -p "$(dirname "$SCREENSHOT")"
window=$(xdotool search --onlyvisible --name '^Corvidale$' 2>/dev/null | head -n 1) || true
if [[ -n $window ]]; then
  import -window "$window" "$SCREENSHOT"
else
  import -window root "$SCREENSHOT"
fi
say "Screenshot: $SCREENSHOT"
