#!/usr/bin/env bash
# The shell's own menu actions must reach the shell. A menu item without a
# target sends its action to the first responder that answers it, from the
# key window's first responder (the web view, once the page has the focus)
# up through the views and the window to the application's delegate. So no
# action that the application's delegate (CVDApplicationDelegate) takes may
# be a selector that WKWebView, NSView, NSResponder or NSWindow declares.
# Each pair is one message send in a scratch file: a send that parses
# without a diagnostic is a selector the receiver's class declares.
#   menu-actions.sh SOURCE_ROOT OBJCXX_FLAGS_FILE WORK_DIR
# Exits 1 naming each action that another responder answers first, 2 when
# the probe cannot be parsed at all.
set -euo pipefail

root="$1"
flags="$2"
work="$3"
clang="${CORVIDALE_MAC_CLANG:-clang++-14}"
shadowing=(WKWebView NSView NSResponder NSWindow)

# The selectors of the action table: the text of each {MenuAction::Name, "selector", ...}.
table="$root/src/core/platform/menu.h"
mapfile -t actions < <(grep -oE '\{MenuAction::[A-Za-z]+, "[^"]+"' "$table" | sed -E 's/.*"([^"]+)"$/\1/' | sort -u)
[ "${#actions[@]}" -gt 0 ] || { echo "menu-actions.sh: no menu actions found in $table" >&2; exit 2; }

# `a:b:` is sent as [x a:nil b:nil], `a` as [x a].
send() {
  local receiver="$1" selector="$2"
  if [[ "$selector" != *:* ]]; then
    echo "[$receiver $selector];"
    return
  fi
  local parts=() part
  IFS=':' read -ra parts <<<"$selector"
  local text="[$receiver"
  for part in "${parts[@]}"; do text+=" $part:nil"; done
  echo "$text];"
}

probe="$work/menu_probe.mm"
declare -A line_of
{
  echo '#include "mac/app_delegate.h"'
  echo '#import <WebKit/WebKit.h>'
  echo 'void probe(CVDApplicationDelegate* shell, WKWebView* WKWebView_, NSView* NSView_, NSResponder* NSResponder_,'
  echo '           NSWindow* NSWindow_) {'
} >"$probe"
line=$(wc -l <"$probe")
for action in "${actions[@]}"; do
  for receiver in shell "${shadowing[@]}"; do
    line=$((line + 1))
    line_of["$receiver $action"]=$line
    name="$receiver"
    [ "$receiver" = shell ] || name="${receiver}_"
    send "$name" "$action" >>"$probe"
  done
done
echo '}' >>"$probe"

output="$("$clang" "@$flags" -ferror-limit=0 "$probe" 2>&1 || true)"
if grep -vF "$probe" <<<"$output" | grep -qE '^[^ ]+:[0-9]+:[0-9]+: (error|fatal error):'; then
  echo "menu-actions.sh: the probe does not parse:" >&2
  echo "$output" >&2
  exit 2
fi
declare -A diagnosed
while read -r number; do diagnosed[$number]=1; done < <(grep -oE "^$probe:[0-9]+:[0-9]+: (warning|error)" <<<"$output" | cut -d: -f2)
declares() { [ -z "${diagnosed[${line_of["$1 $2"]}]:-}" ]; }

status=0
for action in "${actions[@]}"; do
  declares shell "$action" || continue
  for receiver in "${shadowing[@]}"; do
    if declares "$receiver" "$action"; then
      echo "FAIL: the menu action '$action' is the shell's, but $receiver declares it too: the item goes there first"
      status=1
    fi
  done
done
exit "$status"
