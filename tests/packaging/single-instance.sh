#!/usr/bin/env bash
# One shell per session: under Xvfb with a session bus that activates no
# services, a second launch while the first runs exits 0 at once, starts
# nothing of its own, and brings the first window forward over another
# window; a self-test launch beside it still runs standalone. The window's
# class is the application id, which the desktop entry names.
#
#   tests/packaging/single-instance.sh [path/to/corvidale]   (root; default: the build tree's bundle)
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${CORVIDALE_TEST_BUS:-} ]]; then
  exec env CORVIDALE_TEST_BUS=1 dbus-run-session --config-file="$HERE/session-bus.conf" -- bash "$0" "$@"
fi
source "$HERE/lib.sh"
APP=${1:-$BUILD/Corvidale.app/Contents/MacOS/corvidale}
ID=com.corvidale.desktop
[[ $(id -u) -eq 0 ]] || fail "needs root (the demo CA is trusted in a private mount namespace)"
[[ -x $APP ]] || fail "no application at $APP (build it first)"

start_xvfb
start_demo_server "$BUILD/demo/corvidale-demo-server"
mkdir -p "$WORK/home/runtime" && chmod 700 "$WORK/home/runtime"
run=(env HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_RUNTIME_DIR="$WORK/home/runtime"
  GDK_BACKEND=x11 CORVIDALE_ORIGIN="$URL" "$APP")
pages() { grep -c 'page loaded' "$WORK/server.log"; }

say "first launch"
launch_trusting first "${run[@]}"
wait_for 90 grep -q 'page loaded' "$WORK/server.log" || { cat "$WORK/first.log"; fail "the first page did not load"; }
first=$(windows_of_class "$ID")
[[ $(wc -w <<<"$first") -eq 1 ]] || fail "expected one window of class $ID, found: ${first:-none}"
xprop -id "$first" WM_CLASS | grep -qx "WM_CLASS(STRING) = \"$ID\", \"$ID\"" || fail "WM_CLASS: $(xprop -id "$first" WM_CLASS)"

first_pid=$APP_PID
first_hex=$(printf '0x%x' "$first")

# Another window over it: the second launch must bring the shell above it.
xmessage -geometry 1280x1024+0+0 "covering the shell" &
STARTED+=($!)
topmost() { xwininfo -root -children | awk '/^ +0x/ { print $1; exit }'; }
# The stacking list holds windows before they are mapped, and a window mapped
# late could still go over the shell after the second launch: covered means
# the message is on screen.
covered() { [[ -n $(xdotool search --onlyvisible --classname '^xmessage$' 2>/dev/null) && $(topmost) != "$first_hex" ]]; }
forward() { [[ $(topmost) == "$first_hex" ]]; }
wait_for 10 covered || fail "could not cover the shell's window"

say "second launch"
launch_trusting second "${run[@]}"
finish "$APP_PID" 20
status=$?
[[ $status -eq 0 ]] || { cat "$WORK/second.log"; fail "the second launch ended with $status (124: still running)"; }
! grep -q '\[theme\]' "$WORK/second.log" || fail "the second launch ran the startup sequence"
sleep 1
[[ $(windows_of_class "$ID") == "$first" ]] || fail "windows after the second launch: $(windows_of_class "$ID" | xargs)"
[[ $(pages) -eq 1 ]] || fail "the page was loaded $(pages) times"
# The first shell hears of the second launch over the bus and raises its window
# when its main loop gets to it, which on a busy machine takes a while.
wait_for 20 forward || fail "the shell's window did not come forward"
running "$first_pid" || fail "the first shell is gone"

say "self-test launch beside it"
launch_trusting selftest "${run[@]}" -downloadSelfTest YES
finish "$APP_PID" 60 || { cat "$WORK/selftest.log"; fail "the self-test failed beside a running shell"; }
grep -q '^DOWNLOAD SELFTEST: saved ' "$WORK/selftest.log" || { cat "$WORK/selftest.log"; fail "no self-test line"; }
echo "single-instance: passed (one window, brought forward; self-test ran standalone)"
