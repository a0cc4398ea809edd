# Shared by the packaging checks (sourced, not run): a throw-away certificate
# authority, the demo server, an X server, and clean-up of all of it.
# Needs root: the app trusts the demo CA inside a private mount namespace.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${CORVIDALE_BUILD_DIR:-$ROOT/build}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvidale-pkg.XXXXXX")
STARTED=()

say() { printf '==> %s\n' "$*"; }
fail() { printf '%s: FAILED: %s\n' "$(basename "$0")" "$*" >&2; exit 1; }

cleanup() {
  local pid
  for pid in "${STARTED[@]}"; do kill -TERM -- "-$pid" "$pid" 2>/dev/null; done
  sleep 0.5
  for pid in "${STARTED[@]}"; do kill -KILL -- "-$pid" "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf --one-file-system "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Polls a command for up to $1 seconds.
wait_for() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 5; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}

# Whether a process still runs (a zombie waiting to be reaped does not).
running() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
  [[ -n $state && $state != Z ]]
}

# Waits up to $2 seconds for the background process $1 to end; its status.
# Once reaped, its id may go to someone else's process: clean-up forgets it.
finish() {
  local status pid kept=()
  wait_for "$2" eval '! running '"$1" || return 124
  wait "$1"
  status=$?
  for pid in "${STARTED[@]}"; do [[ $pid == "$1" ]] || kept+=("$pid"); done
  STARTED=("${kept[@]}")
  return "$status"
}

# Starts Xvfb on a free display and exports DISPLAY. -noreset: a client that
# connects while the server resets after its last client left is dropped.
start_xvfb() {
  : >"$WORK/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
  STARTED+=($!)
  wait_for 10 grep -q '[0-9]' "$WORK/display" || fail "Xvfb did not start"
  export DISPLAY=:$(tr -dc '0-9' <"$WORK/display")
}

# Makes the CA and a certificate for localhost, starts the demo server and
# sets URL. $WORK/ca-bundle.crt is the system bundle with the demo CA added.
start_demo_server() {
  local server=$1
  (
    cd "$WORK"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -keyout ca.key \
      -out ca.pem -subj "/CN=Corvidale packaging test CA" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign" 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr \
      -subj "/CN=localhost" 2>/dev/null
    printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext \
      -out server.pem 2>/dev/null
    cat /etc/ssl/certs/ca-certificates.crt ca.pem >ca-bundle.crt
  ) || fail "could not make the test certificates"
  : >"$WORK/server.log"
  "$server" --root "$ROOT/demo/web" --cert "$WORK/server.pem" --key "$WORK/server.key" --port 0 \
    >"$WORK/server.log" 2>&1 &
  STARTED+=($!)
  wait_for 10 grep -q 'ready at' "$WORK/server.log" || fail "the demo server did not start"
  URL=$(grep -o 'https://localhost:[0-9]*/' "$WORK/server.log" | head -n 1)
}

# Runs a command in the background, in its own process group, with the demo
# CA trusted (bound over the system bundle in a private mount namespace);
# $1 names its log. Sets APP_PID.
launch_trusting() {
  local log=$WORK/$1.log
  shift
  setsid unshare -m -- sh -c 'mount --bind "$1" /etc/ssl/certs/ca-certificates.crt && shift && exec "$@"' \
    sh "$WORK/ca-bundle.crt" "$@" >"$log" 2>&1 &
  APP_PID=$!
  STARTED+=("$APP_PID")
}

# The ids of the X windows whose class is exactly $1.
windows_of_class() {
  xdotool search --onlyvisible --classname "^$1\$" 2>/dev/null | sort -u
}
