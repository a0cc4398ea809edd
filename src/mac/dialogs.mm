#include "dialogs.h"

#include <algorithm>

#include "ns_text.h"

namespace corvidale::mac {
namespace {

constexpr CGFloat kAccessorySpacing = 8;

constexpr CGFloat kNotesWidth = 360;
constexpr CGFloat kNotesHeight = 160;

// A release's notes: read-only, scrolling, titled for a screen reader.
NSView* notesView(const std::string& notes) {
    NSScrollView* scroller = [[NSScrollView alloc] initWithFrame:NSMakeRect(0, 0, kNotesWidth, kNotesHeight)];
    [scroller setHasVerticalScroller:YES];
    [scroller setBorderType:NSBezelBorder];
    NSTextView* text = [[NSTextView alloc] initWithFrame:NSMakeRect(0, 0, kNotesWidth, kNotesHeight)];
    [text setEditable:NO];
    [text setRichText:NO];
    [text setString:toNSString(notes)];
    [text setAccessibilityLabel:@"What's new"];
    [scroller setDocumentView:text];
    return scroller;
}

// The notes, the text field and the checkbox that are given, stacked in that
// order from the top.
NSView* accessoryView(NSView* notes, NSTextField* field, NSButton* checkbox) {
    [checkbox sizeToFit];
    NSMutableArray<NSView*>* parts = [NSMutableArray array];
    for (NSView* part : {notes, static_cast<NSView*>(field), static_cast<NSView*>(checkbox)}) {
        if (part != nil) [parts addObject:part];
    }
    if ([parts count] <= 1) return [parts firstObject];
    CGFloat width = 0;
    CGFloat height = -kAccessorySpacing;
    for (NSView* part in parts) {
        width = std::max(width, [part frame].size.width);
        height += [part frame].size.height + kAccessorySpacing;
    }
    NSView* stack = [[NSView alloc] initWithFrame:NSMakeRect(0, 0, width, height)];
    for (NSView* part in parts) {
        height -= [part frame].size.height;
        [part setFrameOrigin:NSMakePoint(0, height)];
        height -= kAccessorySpacing;
        [stack addSubview:part];
    }
    return stack;
}

// Runs `modal` once the caller has returned, and hands its answer to
// `finish`. The modal loop is started from a block of the main run loop, not
// of the main dispatch queue: that queue runs one block at a time, so a
// modal loop entered from one of its blocks would hold back every job posted
// to it (a worker's result, a deadline) until the panel closes. The block
// runs in the common modes, the modal panel mode among them, so a panel
// asked for while another is up opens over it.
void runModalSoon(NSModalResponse (^modal)(void), void (^finish)(NSModalResponse)) {
    CFRunLoopRef mainLoop = CFRunLoopGetMain();
    CFRunLoopPerformBlock(mainLoop, kCFRunLoopCommonModes, ^{
      finish(modal());
    });
    // A block alone does not wake a sleeping run loop.
    CFRunLoopWakeUp(mainLoop);
}

}  // namespace

void MacDialogs::showAlert(const platform::AlertContent& content, platform::Presentation presentation,
                           std::function<void(platform::AlertResult)> done) {
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setMessageText:toNSString(content.messageText)];
    if (content.informativeText) [alert setInformativeText:toNSString(*content.informativeText)];
    for (const auto& title : content.buttons) [alert addButtonWithTitle:toNSString(title)];

    NSTextField* field = nil;
    if (content.textField) {
        field = [[NSTextField alloc]
            initWithFrame:NSMakeRect(0, 0, content.textField->width, content.textField->height)];
        [field setStringValue:toNSString(content.textField->text)];
    }
    NSButton* checkbox = nil;
    if (content.checkbox) {
        checkbox = [NSButton checkboxWithTitle:toNSString(content.checkbox->title) target:nil action:nil];
        [checkbox setState:content.checkbox->on ? NSControlStateValueOn : NSControlStateValueOff];
    }
    NSView* notes = content.notes ? notesView(*content.notes) : nil;
    if (NSView* accessory = accessoryView(notes, field, checkbox)) [alert setAccessoryView:accessory];
    // Typing goes to the field at once, as in a browser's own prompt.
    if (field != nil) [[alert window] setInitialFirstResponder:field];

    // The blocks keep the alert and its controls until the answer is read.
    void (^finish)(NSModalResponse) = ^(NSModalResponse response) {
      platform::AlertResult result;
      result.response = static_cast<int>(response);
      if (field != nil) result.text = toStdString([field stringValue]);
      if (checkbox != nil) result.checked = [checkbox state] == NSControlStateValueOn;
      if (done) done(std::move(result));
    };
    NSWindow* window = sheetWindow_;
    if (presentation == platform::Presentation::SheetOnWindow && window != nil) {
        [alert beginSheetModalForWindow:window completionHandler:finish];
        return;
    }
    // App-modal, also for a sheet without its window; the caller has
    // returned before the answer arrives, as it has with a sheet.
    runModalSoon(
        ^{
          return static_cast<NSModalResponse>([alert runModal]);
        },
        finish);
}

void MacDialogs::showOpenPanel(const platform::OpenPanelParameters& parameters,
                               std::function<void(int response, std::vector<std::string> paths)> done) {
    NSOpenPanel* panel = [NSOpenPanel openPanel];
    [panel setCanChooseFiles:YES];
    [panel setCanChooseDirectories:parameters.allowsDirectories];
    [panel setAllowsMultipleSelection:parameters.allowsMultipleSelection];

    void (^finish)(NSModalResponse) = ^(NSModalResponse response) {
      std::vector<std::string> paths;
      if (response == NSModalResponseOK) {
          for (NSURL* url in [panel URLs]) paths.push_back(toStdString([url path]));
      }
      if (done) done(static_cast<int>(response), std::move(paths));
    };
    NSWindow* window = sheetWindow_;
    if (window != nil) {
        [panel beginSheetModalForWindow:window completionHandler:finish];
        return;
    }
    runModalSoon(
        ^{
          return static_cast<NSModalResponse>([panel runModal]);
        },
        finish);
}

}  // namespace corvidale::mac
