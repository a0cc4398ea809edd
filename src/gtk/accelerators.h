#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvidale::gtk {

// GTK accelerators for a menu item's key equivalent. The desktop platform's
// command modifier becomes <Primary> (Ctrl), and an upper-case key implies
// Shift: "Z" -> "<Primary><Shift>z". The first accelerator is the one the
// menu shows; the others are alternatives for keyboards where the key is
// typed differently ("+" is also Ctrl+= and the keypad's plus). Empty for an
// empty key equivalent or one that names no key.
std::vector<std::string> acceleratorsForKeyEquivalent(std::string_view keyEquivalent);

// A menu item title as a GMenu label: GTK reads '_' as a mnemonic marker, so
// underscores are doubled to show the title exactly as given.
std::string menuLabel(std::string_view title);

}  // namespace corvidale::gtk
