#!/usr/bin/env bash
# Type-checks the macOS backend (src/mac, Objective-C++ with ARC) and the
# portable core (src/core) for macOS 13 on x86-64, on Linux, without an Apple
# SDK: clang parses them against GNUstep's Foundation and AppKit headers plus
# the small compile net in tests/mac/net (see docs/macos.md). Nothing is linked.
# The Objective-C++ files are parsed a second time for the newest macOS, so
# that a call the SDK has deprecated since fails now, not the day the
# deployment target moves there.
#   scripts/mac-check.sh [SOURCE_ROOT [FILE...]]
# SOURCE_ROOT defaults to this checkout; FILEs (relative to it) limit the
# check to those sources (the menu's actions are checked when the menu model
# or the application delegate is among them). Exits 1 with clang's diagnostics when a file fails
# the check, 2 when the tools for it are missing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
root="$(cd "${1:-$here}" && pwd)"
net="$root/tests/mac/net"
clang="${CORVIDALE_MAC_CLANG:-clang++-14}"
newest_macos=26.0
libcxx=/usr/lib/llvm-14/include/c++/v1

for need in "$libcxx/vector" /usr/include/GNUstep/AppKit/AppKit.h /usr/include/Block.h; do
  [ -e "$need" ] || { echo "mac-check.sh: $need is missing; run scripts/deps.sh" >&2; exit 2; }
done
command -v "$clang" >/dev/null || { echo "mac-check.sh: $clang is missing; run scripts/deps.sh" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bash "$net/objc-headers.sh" "$work/include"
bash "$net/appkit-headers.sh" "$work/include"

# An Apple target drops the multiarch include folder, so it is named; glibc's
# headers need _GNU_SOURCE (posix_memalign for libc++) and no __nonnull macro
# (signal.h), and libc++ stands in for the SDK's C++ library.
cat > "$work/cxx.rsp" <<FLAGS
-target x86_64-apple-macos13 -std=c++20 -fsyntax-only
-nostdinc++ -isystem "$libcxx" -isystem /usr/include/x86_64-linux-gnu -D_GNU_SOURCE -U__nonnull
-isystem "$net/libc" -I"$root/src" -Wall -Wextra -Werror
FLAGS
cp "$work/cxx.rsp" "$work/objcxx.rsp"
cat >> "$work/objcxx.rsp" <<FLAGS
-x objective-c++ -fobjc-arc
-isystem "$work/include" -isystem "$net" -isystem /usr/include/GNUstep -include "$net/compat.h"
-Werror=unguarded-availability-new -Werror=protocol -Werror=incomplete-implementation -Werror=objc-method-access
-Werror=mismatched-parameter-types -Werror=mismatched-return-types -Werror=incompatible-pointer-types -Werror=method-signatures
FLAGS
echo "-x c++" >> "$work/cxx.rsp"
sed "s/-target x86_64-apple-macos13 /-target x86_64-apple-macos$newest_macos /" "$work/objcxx.rsp" > "$work/newest.rsp"
grep -q "apple-macos$newest_macos " "$work/newest.rsp" || { echo "mac-check.sh: no target to move to macOS $newest_macos" >&2; exit 2; }

started=$SECONDS
objc_files=()
core_files=()
menu=yes
if [ "$#" -gt 1 ]; then
  menu=no
  for file in "${@:2}"; do
    case "$file" in
      src/core/app/menu_model.cpp | src/mac/app_delegate.*) menu=yes ;;
    esac
    case "$file" in
      *.mm) objc_files+=("$root/$file") ;;
      *.h) ;;
      *) core_files+=("$root/$file") ;;
    esac
  done
else
  objc_files=("$root"/src/mac/*.mm)
  mapfile -t core_files < <(find "$root/src/core" -name '*.cpp' | sort)
fi
status=0
check() {
  local flags="$1"
  shift
  [ "$#" -eq 0 ] || printf '%s\n' "$@" | xargs -d '\n' -P 2 -n 1 "$clang" "@$flags" || status=1
}
check "$work/objcxx.rsp" "${objc_files[@]}"
check "$work/newest.rsp" "${objc_files[@]}"
check "$work/cxx.rsp" "${core_files[@]}"
# The shell's menu actions must not be selectors the web view, the views or
# the window answer first.
if [ "$menu" = yes ]; then
  bash "$net/menu-actions.sh" "$root" "$work/objcxx.rsp" "$work" || status=1
fi

verdict=passed
[ "$status" -eq 0 ] || verdict=FAILED
echo "mac-check.sh: $verdict — ${#objc_files[@]} Objective-C++ (also for macOS $newest_macos) and ${#core_files[@]} core files for x86_64-apple-macos13 in $((SECONDS - started)) s"
exit "$status"
