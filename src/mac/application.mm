#include "application.h"

#include "ns_text.h"

namespace corvidale::mac {
namespace {

NSMenu* buildMenu(const platform::Menu& model) {
    NSMenu* menu = [[NSMenu alloc] initWithTitle:toNSString(model.title)];
    for (const auto& item : model.items) {
        if (item.separator) {
            [menu addItem:[NSMenuItem separatorItem]];
            continue;
        }
        // No target: the action travels the responder chain, from the key
        // window's first responder up to the application and its delegate.
        // No modifier mask: Command, plus Shift for an upper-case key.
        SEL action = item.action ? NSSelectorFromString(toNSString(platform::selectorOf(*item.action))) : nullptr;
        [menu addItemWithTitle:toNSString(item.title) action:action keyEquivalent:toNSString(item.keyEquivalent)];
    }
    return menu;
}

}  // namespace

void MacApplication::activateIgnoringOtherApps() {
    // From macOS 14 activation is cooperative and "ignoring other apps" has
    // no effect; the old call is on its way out.
    if (@available(macOS 14, *)) {
        [NSApp activate];
    } else {
        [NSApp activateIgnoringOtherApps:YES];
    }
}

std::optional<platform::Appearance> MacApplication::appearance() const {
    NSAppearance* current = [NSApp appearance];
    if (current == nil) return std::nullopt;
    if ([[current name] isEqualToString:NSAppearanceNameAqua]) return platform::Appearance::Light;
    if ([[current name] isEqualToString:NSAppearanceNameDarkAqua]) return platform::Appearance::Dark;
    // Another explicit appearance matches neither theme, so the next theme
    // replaces it.
    return std::nullopt;
}

void MacApplication::setAppearance(platform::Appearance appearance) {
    NSAppearanceName name = appearance == platform::Appearance::Light ? NSAppearanceNameAqua : NSAppearanceNameDarkAqua;
    [NSApp setAppearance:[NSAppearance appearanceNamed:name]];
}

void MacApplication::setMainMenu(const platform::MenuBar& menuBar) {
    NSMenu* bar = [[NSMenu alloc] initWithTitle:@""];
    NSMenu* windowsMenu = nil;
    for (std::size_t i = 0; i < menuBar.menus.size(); ++i) {
        NSMenuItem* top = [[NSMenuItem alloc] init];
        NSMenu* submenu = buildMenu(menuBar.menus[i]);
        [top setSubmenu:submenu];
        [bar addItem:top];
        if (static_cast<int>(i) == menuBar.windowsMenuIndex) windowsMenu = submenu;
    }
    if (windowsMenu != nil) [NSApp setWindowsMenu:windowsMenu];
    [NSApp setMainMenu:bar];
}

void MacApplication::terminate() { [NSApp terminate:nil]; }

}  // namespace corvidale::mac
