#include "activity.h"

#include <algorithm>
#include <map>

#include "ns_text.h"

namespace {

constexpr CGFloat kRowHeight = 28;
constexpr CGFloat kMargin = 8;
constexpr CGFloat kLabelWidth = 260;
constexpr CGFloat kButtonWidth = 80;

}  // namespace

@interface CVDActivityStripView : NSView {
@public
    std::map<std::uint64_t, NSView*> rows;
    std::function<void(std::uint64_t)> cancel;
}
- (void)cancelActivityRow:(NSButton*)sender;
@end

@implementation CVDActivityStripView
- (BOOL)isFlipped {
    return YES;  // rows from the top down, in the order given
}
- (void)cancelActivityRow:(NSButton*)sender {
    // The handler may change the rows, the sender's among them.
    if (auto handler = cancel) handler(static_cast<std::uint64_t>([sender tag]));
}
@end

namespace corvidale::mac {
namespace {

NSView* makeRow(CVDActivityStripView* strip, std::uint64_t id, CGFloat width) {
    NSView* row = [[NSView alloc] initWithFrame:NSMakeRect(0, 0, width, kRowHeight)];
    [row setAutoresizingMask:NSViewWidthSizable];
    NSTextField* label = [[NSTextField alloc] initWithFrame:NSMakeRect(kMargin, 4, kLabelWidth, 20)];
    [label setEditable:NO];
    [label setBezeled:NO];
    [label setDrawsBackground:NO];
    NSProgressIndicator* bar = [[NSProgressIndicator alloc]
        initWithFrame:NSMakeRect(2 * kMargin + kLabelWidth, 6, width - 4 * kMargin - kLabelWidth - kButtonWidth, 16)];
    [bar setAutoresizingMask:NSViewWidthSizable];
    [bar setMinValue:0];
    [bar setMaxValue:1];
    NSButton* button = [[NSButton alloc]
        initWithFrame:NSMakeRect(width - kMargin - kButtonWidth, 2, kButtonWidth, 24)];
    [button setAutoresizingMask:NSViewMinXMargin];
    [button setTitle:@"Cancel"];
    [button setTag:static_cast<NSInteger>(id)];
    [button setTarget:strip];
    [button setAction:@selector(cancelActivityRow:)];
    [row addSubview:label];
    [row addSubview:bar];
    [row addSubview:button];
    return row;
}

void updateRow(NSView* row, const platform::ActivityRow& content) {
    NSArray* parts = [row subviews];
    auto* label = static_cast<NSTextField*>([parts objectAtIndex:0]);
    auto* bar = static_cast<NSProgressIndicator*>([parts objectAtIndex:1]);
    auto* button = static_cast<NSButton*>([parts objectAtIndex:2]);
    [label setStringValue:toNSString(content.text)];
    [bar setAccessibilityLabel:toNSString(content.text)];
    [bar setIndeterminate:content.fraction ? NO : YES];
    if (content.fraction) {
        [bar setDoubleValue:std::clamp(*content.fraction, 0.0, 1.0)];
    } else {
        [bar startAnimation:nil];
    }
    [button setHidden:content.cancelName.empty() ? YES : NO];
    [button setAccessibilityLabel:toNSString(content.cancelName)];
}

}  // namespace

ActivityStrip::ActivityStrip() : view_([[CVDActivityStripView alloc] initWithFrame:NSMakeRect(0, 0, 0, 0)]) {
    [view_ setAccessibilityLabel:@"Activity"];
}

NSView* ActivityStrip::view() const { return view_; }

void ActivityStrip::setCancelHandler(std::function<void(std::uint64_t)> cancel) { view_->cancel = std::move(cancel); }

CGFloat ActivityStrip::show(const std::vector<platform::ActivityRow>& rows) {
    std::map<std::uint64_t, NSView*> kept;
    const CGFloat width = [view_ frame].size.width;
    CGFloat y = 0;
    for (const auto& content : rows) {
        auto found = view_->rows.find(content.id);
        NSView* row = found != view_->rows.end() ? found->second : makeRow(view_, content.id, width);
        if (found == view_->rows.end()) [view_ addSubview:row];
        [row setFrameOrigin:NSMakePoint(0, y)];
        updateRow(row, content);
        kept[content.id] = row;
        y += kRowHeight;
    }
    for (auto& [id, row] : view_->rows) {
        if (kept.count(id) == 0) [row removeFromSuperview];
    }
    view_->rows = std::move(kept);
    return y;
}

void DockProgress::setProgress(std::optional<double> fraction) {
    NSDockTile* tile = [NSApp dockTile];
    if (bar_ == nil) {
        if (!fraction) return;
        // The tile draws its content view in place of the icon: the icon
        // goes under the bar.
        const NSSize size = [tile size];
        NSImageView* icon = [[NSImageView alloc] initWithFrame:NSMakeRect(0, 0, size.width, size.height)];
        [icon setImage:[NSApp applicationIconImage]];
        bar_ = [[NSProgressIndicator alloc] initWithFrame:NSMakeRect(4, 4, size.width - 8, 12)];
        [bar_ setIndeterminate:NO];
        [bar_ setMinValue:0];
        [bar_ setMaxValue:1];
        [icon addSubview:bar_];
        [tile setContentView:icon];
    }
    [bar_ setHidden:fraction ? NO : YES];
    if (fraction) [bar_ setDoubleValue:std::clamp(*fraction, 0.0, 1.0)];
    [tile display];
}

}  // namespace corvidale::mac
