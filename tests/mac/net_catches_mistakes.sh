#!/usr/bin/env bash
# The macOS type-check must catch the mistakes it exists for. Each case edits
# one or more files of a scratch copy of the tree and must fail
# scripts/mac-check.sh with the diagnostic named; the untouched copy must
# pass first.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/tests/mac" && cp -r "$root/src" "$scratch/" && cp -r "$root/tests/mac/net" "$scratch/tests/mac/"
failures=0

check() { bash "$root/scripts/mac-check.sh" "$scratch" "$@" 2>&1; }

files=(src/mac/dialogs.mm src/mac/web_view.mm src/mac/application.mm src/mac/url_session.mm src/mac/app_delegate.mm
  src/core/app/menu_model.cpp)
if ! output="$(check "${files[@]}")"; then
  echo "FAIL: the untouched sources do not pass:"; echo "$output"; exit 1
fi

# name | file[,file...] | perl substitution | diagnostic the check must print
cases=(
  "misspelled selector|src/mac/dialogs.mm|s/setMessageText:/setMesageText:/|no visible @interface for 'NSAlert' declares the selector 'setMesageText:'"
  "wrong completion-block type|src/mac/web_view.mm|s/decisionHandler:\(void \(\^\)\(WKNavigationActionPolicy\)\)/decisionHandler:(void (^)(BOOL))/|conflicting parameter types in implementation of 'webView:decidePolicyForNavigationAction:decisionHandler:'"
  "wrong URL-session completion-block type|src/mac/url_session.mm|s/completionHandler:\(void \(\^\)\(NSURLSessionResponseDisposition\)\)/completionHandler:(void (^)(BOOL))/|conflicting parameter types in implementation of 'URLSession:dataTask:didReceiveResponse:completionHandler:'"
  "missing required delegate method|src/mac/web_view.mm|s/- \(void\)userContentController:.*?\n\}\n//s|method 'userContentController:didReceiveScriptMessage:' in protocol 'WKScriptMessageHandler' not implemented"
  "wrong application-delegate parameter type|src/mac/app_delegate.mm|s/application:\(NSApplication\*\)application openURLs:/application:(NSWindow*)application openURLs:/|conflicting parameter types in implementation of 'application:openURLs:'"
  "unguarded macOS 14 call|src/mac/application.mm|s/activateIgnoringOtherApps:YES/activate/|'activate' is only available on macOS 14.0 or newer"
  "call deprecated in a later macOS|src/mac/url_session.mm|s/(forKey:NSURLErrorFailingURLErrorKey\];)/\$1 [info setObject:[url absoluteString] forKey:NSURLErrorFailingURLStringErrorKey];/|'NSURLErrorFailingURLStringErrorKey' is deprecated: first deprecated in macOS 15.4"
  "menu action the web view answers first|src/core/platform/menu.h,src/mac/app_delegate.h,src/mac/app_delegate.mm|s/\\bshellReload\\b/reload/g|the menu action 'reload' is the shell's, but WKWebView declares it too"
  "nil for a nonnull completion handler|src/mac/dialogs.mm|s/(\[panel beginSheetModalForWindow:window completionHandler:)finish\]/\${1}nil]/|null passed to a callee that requires a non-null argument"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name edited edit expected <<<"$entry"
  IFS=',' read -ra targets <<<"$edited"
  unchanged=""
  for file in "${targets[@]}"; do
    cp "$root/$file" "$scratch/$file"
    perl -0pi -e "$edit" "$scratch/$file"
    cmp -s "$root/$file" "$scratch/$file" && unchanged+=" $file"
  done
  if [ -n "$unchanged" ]; then
    echo "FAIL: $name: the edit did not apply to$unchanged"; failures=$((failures + 1))
  elif output="$(check "${targets[@]}")"; then
    echo "FAIL: $name: the check passed"; failures=$((failures + 1))
  elif ! grep -qF -- "$expected" <<<"$output"; then
    echo "FAIL: $name: expected \"$expected\" in:"; echo "$output"; failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
  for file in "${targets[@]}"; do cp "$root/$file" "$scratch/$file"; done
done

echo "$(( ${#cases[@]} - failures )) passed, $failures failed"
[ "$failures" -eq 0 ]
