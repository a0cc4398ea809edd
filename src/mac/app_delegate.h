#pragma once

#import <AppKit/AppKit.h>

#include "core/platform/application_delegate.h"

// The application's delegate. It carries the selectors that AppKit and the
// menu's responder chain send to the application's delegate and forwards
// each to the core's application delegate, which decides.
@interface CVDApplicationDelegate : NSObject <NSApplicationDelegate>

- (instancetype)initWithController:(corvidale::platform::ApplicationDelegate*)controller;

// The core's menu actions (the selectors of platform::kMenuActions that the
// application answers), as the menu items name them. No
// responder before this one in the chain (the web view, its superviews, the
// window) may answer these selectors, or the item goes there instead; the
// type-check on Linux holds them to that.
- (void)shellReload;
- (void)shellZoomIn;
- (void)shellZoomOut;
- (void)shellZoomReset;
- (void)checkForUpdates:(id)sender;

@end
