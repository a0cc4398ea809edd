#!/usr/bin/env bash
# The macOS branch of the build, configured on Linux the way a Mac with Xcode
# and CMake but no pkg-config would: CMake for Darwin with clang, an empty SDK
# folder, and do-nothing stand-ins for the Apple tools that CMake looks for
# (install_name_tool) or the build calls (codesign). Configuring and
# generating must succeed (nothing is built), and every link of the result
# may name only the system's frameworks and libraries and the build's own
# archives: a package manager's library in the app's load commands breaks it
# on every Mac without that package manager. This machine's own libraries
# stand in for such a package manager's. The configure line is the Mac guide's
# own, as a Mac developer types it, with Ninja for Xcode (which Linux lacks)
# and nothing ever downloaded.
#   tests/mac/apple_configure.sh [SOURCE_ROOT]
set -euo pipefail

root="$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../..}" && pwd)"
clang="$(command -v "${CORVIDALE_MAC_CLANG:-clang++-14}")" || { echo "apple_configure.sh: clang++-14 is missing" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sdk="$work/MacOSX.sdk"
mkdir -p "$sdk/usr/lib" "$work/bin"
for tool in install_name_tool codesign; do
  printf '#!/bin/sh\nexit 0\n' >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done

frameworks=" AppKit WebKit UserNotifications Foundation CoreFoundation Security Network "
libraries=" curl c++ System objc z "

# The Mac guide's configure line: its first "cmake -S".
readme_line="$(awk '/^    cmake -S / { sub(/#.*/, ""); print; exit }' "$root/docs/macos.md")"
read -ra readme_args <<<"$readme_line"
[ "${#readme_args[@]}" -gt 0 ] || { echo "FAIL: no Mac configure line in docs/macos.md"; exit 1; }
args=()
for ((i = 1; i < ${#readme_args[@]}; i++)); do
  case "${readme_args[i]}" in
    -S) i=$((i + 1)); args+=(-S "$root") ;;
    -B) i=$((i + 1)); args+=(-B "$work/build") ;;
    -G) i=$((i + 1)); args+=(-G Ninja) ;;
    *) args+=("${readme_args[i]}") ;;
  esac
done

if ! PATH="$work/bin:$PATH" cmake "${args[@]}" \
  -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_OSX_SYSROOT="$sdk" \
  -DCMAKE_CXX_COMPILER="$clang" -DCMAKE_OBJCXX_COMPILER="$clang" \
  -DCMAKE_CXX_COMPILER_TARGET=x86_64-apple-macos13 -DCMAKE_OBJCXX_COMPILER_TARGET=x86_64-apple-macos13 \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON \
  -DFETCHCONTENT_FULLY_DISCONNECTED=ON >"$work/configure.log" 2>&1; then
  echo "FAIL: configuring the macOS branch as docs/macos.md says (cmake ${readme_line#*cmake }) failed:"
  cat "$work/configure.log"
  exit 1
fi

ninja="$work/build/build.ninja"
# A newer Apple clang's new warnings must not break a developer's build.
if grep -q -- '-Werror' "$work/build/build.ninja" "$work/build"/CMakeFiles/rules.ninja 2>/dev/null; then
  echo "FAIL: the macOS branch builds with -Werror by default"
  exit 1
fi
# What one linked target names: the words of its LINK_LIBRARIES and LINK_PATH.
links() {
  awk -v target="$1" '
    $1 == "build" && index($0, target ":") == 7 { inside = 1; next }
    inside && /^  (LINK_LIBRARIES|LINK_PATH) = / { sub(/^  [A-Z_]+ = /, ""); print }
    inside && /^$/ { inside = 0 }' "$ninja" | tr -s ' ' '\n' | sed '/^$/d'
}
built() { awk -v kind="$1" '$1 == "build" && $3 ~ ("_(" kind ")_LINKER__") { sub(/:$/, "", $2); print $2 }' "$ninja"; }
mapfile -t targets < <(built 'EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY')
archives=" $(built STATIC_LIBRARY | tr '\n' ' ') "

failures=0
outside() { echo "FAIL: $1 links $2, which is not part of macOS"; failures=$((failures + 1)); }
for target in "${targets[@]}"; do
  mapfile -t words < <(links "$target")
  for ((i = 0; i < ${#words[@]}; i++)); do
    word="${words[i]}"
    case "$word" in
      -framework) i=$((i + 1)); [[ "$frameworks" == *" ${words[i]} "* ]] || outside "$target" "the framework ${words[i]}" ;;
      -l*) [[ "$libraries" == *" ${word#-l} "* ]] || outside "$target" "$word" ;;
      -L"$sdk"/* | -F"$sdk"/* | "$sdk"/*) ;;
      /*|-L*|-F*) outside "$target" "$word" ;;
      *.a) [[ "$archives" == *" $word "* ]] || outside "$target" "$word" ;;
      *) outside "$target" "$word" ;;
    esac
  done
done

app="src/mac/Corvidale.app/Contents/MacOS/Corvidale"
if [[ " ${targets[*]} " != *" $app "* ]]; then
  echo "FAIL: no link of $app in the generated build; linked targets: ${targets[*]:-none}"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || exit 1
echo "ok: the macOS branch configures, and its ${#targets[@]} linked target(s) name only system frameworks and libraries"
