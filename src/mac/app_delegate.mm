#include "app_delegate.h"

#include <string>
#include <vector>

#include "ns_text.h"

@implementation CVDApplicationDelegate {
    corvidale::platform::ApplicationDelegate* _controller;
}

- (instancetype)initWithController:(corvidale::platform::ApplicationDelegate*)controller {
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
    _controller->performMenuAction(corvidale::platform::MenuAction::Reload);
}

- (void)shellZoomIn {
    _controller->performMenuAction(corvidale::platform::MenuAction::ZoomIn);
}

- (void)shellZoomOut {
    _controller->performMenuAction(corvidale::platform::MenuAction::ZoomOut);
}

- (void)shellZoomReset {
    _controller->performMenuAction(corvidale::platform::MenuAction::ZoomReset);
}

- (void)checkForUpdates:(id)sender {
    _controller->performMenuAction(corvidale::platform::MenuAction::CheckForUpdates);
}

@end
