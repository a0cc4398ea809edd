#!/usr/bin/env bash
# The desktop entry's Exec and TryExec for launcher paths a user's home can hold: each must validate
# and give back the path itself when read the way GIO reads an entry (the file's escapes, the field
# codes, then the command line's quoting).
set -u
script=$(dirname "$0")/../../packaging/linux/desktop_exec.cmake
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
failed=0
for path in "/usr/bin/corvidale" "/home/a b/.local/bin/corvidale" "/home/o'brien/bin/corvidale" \
            "/home/x/100%/bin/corvidale" '/home/q"$`\\/bin/corvidale' "/home/(a);b|c&d<e>f~*?#/corvidale"; do
  cmake -DDESKTOP_EXEC_PATH="$path" -DDESKTOP_TRY_EXEC=1 -P "$script" >"$work/c.desktop" 2>&1 || { echo "cmake: $path"; failed=1; continue; }
  desktop-file-validate "$work/c.desktop" >/dev/null || { echo "invalid entry for: $path"; cat "$work/c.desktop"; failed=1; }
  /usr/bin/python3 - "$work/c.desktop" "$path" <<'PY' || failed=1
import sys
from gi.repository import GLib
entry, path = sys.argv[1:]
key = GLib.KeyFile()
key.load_from_file(entry, GLib.KeyFileFlags.NONE)
exec_ = key.get_string("Desktop Entry", "Exec").replace("%u", "").replace("%%", "%")
argv = GLib.shell_parse_argv(exec_)[1]
tried = key.get_string("Desktop Entry", "TryExec")
if argv != [path] or tried != path:
    sys.exit(f"{path!r}: Exec gives {argv!r}, TryExec {tried!r}")
PY
done
exit $failed
