#include "release_notes.h"

#include "core/util/text.h"

namespace corvidale::updater {
namespace {

constexpr std::string_view kEllipsis = "\u2026";

bool shown(char32_t c) {
    if (c == '\n' || c == '\t') return true;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    const bool directional = c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
                             (c >= 0x2066 && c <= 0x2069);
    return !directional;
}

}  // namespace

std::optional<std::string> plainNotes(std::string_view text) {
    std::string notes;
    forEachCharacter(text, [&notes](char32_t c, std::string_view character) {
        if (notes.size() > kMaxNotesBytes) return;
        // Line and paragraph separators are new lines to a reader, not to every widget.
        if (c == 0x2028 || c == 0x2029) {
            notes += '\n';
        } else if (shown(c)) {
            notes += character;
        }
    });
    if (notes.find_first_not_of(" \t\n") == std::string::npos) return std::nullopt;
    if (notes.size() > kMaxNotesBytes) {
        notes.resize(utf8PrefixLength(notes, kMaxNotesBytes - kEllipsis.size()));
        notes += kEllipsis;
    }
    return notes;
}

}  // namespace corvidale::updater
