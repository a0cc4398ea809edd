#include "window.h"

#include "ns_text.h"
#include "web_view.h"

namespace corvidale::mac {

MacWindow::MacWindow(const platform::WindowShape& shape) {
    const NSRect content =
        NSMakeRect(shape.contentRect.x, shape.contentRect.y, shape.contentRect.width, shape.contentRect.height);
    window_ = [[NSWindow alloc] initWithContentRect:content
                                          styleMask:static_cast<NSWindowStyleMask>(shape.styleMask)
                                            backing:static_cast<NSBackingStoreType>(shape.backing)
                                              defer:shape.defer ? YES : NO];
    // This wrapper owns the window; AppKit must not release it again when it
    // closes.
    [window_ setReleasedWhenClosed:NO];
}

void MacWindow::setTitle(const std::string& title) { [window_ setTitle:toNSString(title)]; }

void MacWindow::setMovableByWindowBackground(bool movable) { [window_ setMovableByWindowBackground:movable]; }

void MacWindow::setMinSize(platform::Size size) { [window_ setMinSize:NSMakeSize(size.width, size.height)]; }

void MacWindow::setContentView(platform::WebView& view) {
    [window_ setContentView:static_cast<MacWebView&>(view).view()];
}

void MacWindow::setFrameAutosaveName(const std::string& name) { [window_ setFrameAutosaveName:toNSString(name)]; }

void MacWindow::center() { [window_ center]; }

void MacWindow::makeKeyAndOrderFront() { [window_ makeKeyAndOrderFront:nil]; }

}  // namespace corvidale::mac
