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

# The delegate protocol gains the SDK's entry point for URLs (macOS 10.13)
# and takes the SDK's sender type, so that a delegate implementing either
# with other types fails the check (-Wmethod-signatures).
cp "$source_dir/NSApplication.h" "$out/"
perl -0pi -e '
  s/(- \(BOOL\) application: \(NSApplication\*\)app\s+openFileWithoutUI: \(NSString\*\)filename;)/- (void)application:(NSApplication * _Nonnull)application openURLs:(NSArray<NSURL *> * _Nonnull)urls;\n\n$1/ or die "openFileWithoutUI\n";
  s/applicationShouldTerminateAfterLastWindowClosed: \(id\)sender;/applicationShouldTerminateAfterLastWindowClosed: (NSApplication *)sender;/ or die "applicationShouldTerminateAfterLastWindowClosed\n";
' "$out/NSApplication.h"
