#include "app_delegate.h"

#include <string>
#include <vector>

#include "core/app/delegate.h"
#include "ns_text.h"

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

// Links of the application's scheme (Info.plist, CFBundleURLTypes), also
// those that launched it, which may come before launching has finished. The
// core reads each from its text and refuses what is not one of ours.
- (void)application:(NSApplication*)application openURLs:(NSArray<NSURL*>*)urls {
    std::vector<std::string> links;
    for (NSURL* url in urls) links.push_back(corvidale::mac::toStdString(url.absoluteString));
    _controller->openURLs(links);
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    return _controller->applicationShouldTerminateAfterLastWindowClosed() ? YES : NO;
}

- (void)shellReload {
    _controller->reload();
}

- (void)shellZoomIn {
    _controller->zoomIn();
}

- (void)shellZoomOut {
    _controller->zoomOut();
}

- (void)shellZoomReset {
    _controller->zoomReset();
}

- (void)checkForUpdates:(id)sender {
    _controller->checkForUpdates();
}

@end
