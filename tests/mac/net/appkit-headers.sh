#!/usr/bin/env bash
# Writes copies of GNUstep AppKit headers that declare an API more loosely
# than the macOS SDK into OUT/AppKit/, which the check searches before
# GNUstep, with the SDK's stricter declarations patched in. A category
# cannot do this: the class's own declaration of a method wins over one in
# a category.
#   usage: appkit-headers.sh OUT
set -euo pipefail

out="$1/AppKit"
source_dir=/usr/include/GNUstep/AppKit
mkdir -p "$out"
cp "$source_dir/NSSavePanel.h" "$out/"

# The SDK declares the panel's window and completion handlers nonnull (an
# alert's sheet handler, in compat.h, is nullable): passing nil must fail.
perl -0pi -e '
  s/beginSheetModalForWindow:\(NSWindow \*\)window\s+completionHandler:\(GSSavePanelCompletionHandler\)handler;/beginSheetModalForWindow:(NSWindow * _Nonnull)window completionHandler:(GSSavePanelCompletionHandler _Nonnull)handler;/ or die "beginSheetModalForWindow\n";
  s/beginWithCompletionHandler:\(GSSavePanelCompletionHandler\)handler;/beginWithCompletionHandler:(GSSavePanelCompletionHandler _Nonnull)handler;/ or die "beginWithCompletionHandler\n";
' "$out/NSSavePanel.h"
