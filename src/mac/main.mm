#import <AppKit/AppKit.h>

#include "app_delegate.h"
#include "core/app/delegate.h"
#include "platform.h"

int main(int, const char**) {
    @autoreleasepool {
        NSApplication* application = [NSApplication sharedApplication];
        // The platform, the controller and its Objective-C face live until the
        // process ends. The application's delegate reference is weak; this
        // variable is what keeps the delegate.
        static auto* platform = new corvidale::mac::MacPlatform();
        static auto* controller = new corvidale::Delegate(*platform);
        static CVDApplicationDelegate* sharedDelegate = [[CVDApplicationDelegate alloc] initWithController:controller];
        [application setDelegate:sharedDelegate];
        // A regular app: a Dock icon and a menu bar of its own.
        [application setActivationPolicy:NSApplicationActivationPolicyRegular];
        [application run];
    }
    return 0;
}
