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
    // The strip of long work goes under the page, never over it.
    webView_ = static_cast<MacWebView&>(view).view();
    NSView* content = [[NSView alloc] initWithFrame:[webView_ frame]];
    [webView_ setAutoresizingMask:NSViewWidthSizable | NSViewHeightSizable];
    [strip_.view() setAutoresizingMask:NSViewWidthSizable | NSViewMaxYMargin];
    [content addSubview:webView_];
    [content addSubview:strip_.view()];
    [window_ setContentView:content];
    layOut(0);
}

void MacWindow::showActivity(const std::vector<platform::ActivityRow>& rows) {
    NSView* strip = strip_.view();
    [strip setFrameSize:NSMakeSize([[strip superview] bounds].size.width, [strip frame].size.height)];
    layOut(strip_.show(rows));
}

void MacWindow::layOut(CGFloat stripHeight) {
    NSView* content = [strip_.view() superview];
    if (content == nil || webView_ == nil) return;
    const NSRect bounds = [content bounds];
    [strip_.view() setFrame:NSMakeRect(0, 0, bounds.size.width, stripHeight)];
    [strip_.view() setHidden:stripHeight > 0 ? NO : YES];
    [webView_ setFrame:NSMakeRect(0, stripHeight, bounds.size.width, bounds.size.height - stripHeight)];
}

void MacWindow::setFrameAutosaveName(const std::string& name) { [window_ setFrameAutosaveName:toNSString(name)]; }

void MacWindow::center() { [window_ center]; }

void MacWindow::makeKeyAndOrderFront() { [window_ makeKeyAndOrderFront:nil]; }

}  // namespace corvidale::mac
