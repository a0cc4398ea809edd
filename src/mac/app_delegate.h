#pragma once

#import <AppKit/AppKit.h>

namespace corvidale {
class Delegate;
}

// The application's delegate. It carries the selectors that AppKit and the
// menu's responder chain send to the application's delegate and forwards
// each to the core's controller, which decides.
@interface CVDApplicationDelegate : NSObject <NSApplicationDelegate>

- (instancetype)initWithController:(corvidale::Delegate*)controller;

// The View menu's actions: no argument, as the menu items name them. No
// responder before this one in the chain (the web view, its superviews, the
// window) may answer these selectors, or the item goes there instead; the
// type-check on Linux holds them to that.
- (void)shellReload;
- (void)shellZoomIn;
- (void)shellZoomOut;
- (void)shellZoomReset;
- (void)checkForUpdates:(id)sender;

@end
