#include "accelerators.h"

#include <gdk/gdk.h>

namespace corvidale::gtk {

std::vector<std::string> acceleratorsForKeyEquivalent(std::string_view keyEquivalent) {
    if (keyEquivalent.empty()) return {};
    if (keyEquivalent == "+") return {"<Primary>plus", "<Primary>equal", "<Primary>KP_Add"};
    if (keyEquivalent == "-") return {"<Primary>minus", "<Primary>KP_Subtract"};

    // One character is one key; anything longer names no key.
    if (!g_utf8_validate(keyEquivalent.data(), static_cast<gssize>(keyEquivalent.size()), nullptr)) return {};
    const gchar* start = keyEquivalent.data();
    const gchar* next = g_utf8_next_char(start);
    if (next != start + keyEquivalent.size()) return {};

    gunichar character = g_utf8_get_char(start);
    std::string modifiers = "<Primary>";
    if (g_unichar_isupper(character)) {
        modifiers += "<Shift>";
        character = g_unichar_tolower(character);
    }
    const guint keyval = gdk_unicode_to_keyval(character);
    // gdk_unicode_to_keyval marks characters without a keysym of their own
    // with this bit; GTK still understands their names.
    const char* name = gdk_keyval_name(keyval);
    if (name == nullptr || *name == '\0') return {};
    return {modifiers + name};
}

std::string menuLabel(std::string_view title) {
    std::string label;
    label.reserve(title.size());
    for (char c : title) {
        if (c == '_') label += '_';
        label += c;
    }
    return label;
}

}  // namespace corvidale::gtk
