#!/usr/bin/env bash
# Writes ARC-ready copies of the three GCC <objc/...> headers that GNUstep's
# Foundation includes into OUT/objc/, plus the blocks shim GNUstep looks for.
# Nothing of GCC is kept in the tree: the copies are made from the installed
# compiler's headers each time the check runs.
#   usage: objc-headers.sh OUT
set -euo pipefail

out="$1/objc"
gcc_version="$(gcc -dumpversion)"
source_dir="$(gcc -print-file-name=include)/objc"
[ -f "$source_dir/runtime.h" ] || { echo "objc-headers.sh: no GCC objc headers in $source_dir (GCC $gcc_version)" >&2; exit 1; }
mkdir -p "$out"
cp "$source_dir/objc.h" "$source_dir/runtime.h" "$source_dir/objc-decls.h" "$out/"

# BOOL, YES, NO, nil and Nil as the Apple runtime has them; under C++ nil is a
# null pointer constant that ARC accepts for any object pointer.
perl -0pi -e '
  s/typedef unsigned char\s+BOOL;/#if __OBJC_BOOL_IS_BOOL\ntypedef bool BOOL;\n#else\ntypedef signed char BOOL;\n#endif/ or die "BOOL\n";
  s/#define YES\s+\(BOOL\)1/#define YES __objc_yes/ or die "YES\n";
  s/#define NO\s+\(BOOL\)0/#define NO __objc_no/ or die "NO\n";
  s/#define nil \(id\)0/#ifdef __cplusplus\n#define nil nullptr\n#else\n#define nil (id)0\n#endif/ or die "nil\n";
  s/#define Nil \(Class\)0/#ifdef __cplusplus\n#define Nil nullptr\n#else\n#define Nil (Class)0\n#endif/ or die "Nil\n";
' "$out/objc.h"

# ARC wants an ownership on the protocol arrays, and an object cannot be
# dereferenced for its class: the inline getter becomes a declaration.
perl -0pi -e '
  s/Protocol \*\*/Protocol * __unsafe_unretained */g or die "Protocol\n";
  s/static inline Class\s*object_getClass \(id object\)\s*\{.*?\n\}\n/objc_EXPORT Class object_getClass (id object);\n/s or die "object_getClass\n";
' "$out/runtime.h"

printf '#include <Block.h>\n' > "$out/blocks_runtime.h"
