#include "app_delegate.h"

#include "core/app/delegate.h"

@implementation CVDApplicationDelegate {
    corvidale::Delegate* _controller;
}

- (instancetype)initWithController:(corvidale::Delegate*)controller {
    if ((self = [super init])) _controller = controller;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    _controller->applicationDidFinishLaunching();
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    return _controller->applicationShouldTerminateAfterLastWindowClosed() ? YES : NO;
}

- (void)reload {
    _controller->reload();
}

- (void)zoomIn {
    _controller->zoomIn();
}

- (void)zoomOut {
    _controller->zoomOut();
}

- (void)zoomReset {
    _controller->zoomReset();
}

- (void)checkForUpdates:(id)sender {
    _controller->checkForUpdates();
}

@end
