#include "release_notes.h"

#include "core/util/text.h"

namespace corvidale::updater {
namespace {

constexpr std::string_view kEllipsis = "\u2026";

// The code point of the well-formed UTF-8 sequence of `length` bytes at `at`.
char32_t codePoint(std::string_view text, std::size_t at, std::size_t length) {
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t value = static_cast<unsigned char>(text[at]) & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    return value;
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    return lead >= 0xE0 ? 3 : 2;
}

bool shown(char32_t c) {
    if (c == '\n' || c == '\t') return true;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    const bool directional = c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
                             (c >= 0x2066 && c <= 0x2069);
    return !directional;
}

}  // namespace

std::optional<std::string> plainNotes(std::string_view text) {
    // Well-formed from here on: each bad sequence is one replacement character.
    const std::string decoded = decodeUtf8(text);
    std::string notes;
    for (std::size_t at = 0; at < decoded.size() && notes.size() <= kMaxNotesBytes;) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(decoded[at]));
        const char32_t c = codePoint(decoded, at, length);
        // Line and paragraph separators are new lines to a reader, not to every widget.
        if (c == 0x2028 || c == 0x2029) {
            notes += '\n';
        } else if (shown(c)) {
            notes.append(decoded, at, length);
        }
        at += length;
    }
    if (notes.find_first_not_of(" \t\n") == std::string::npos) return std::nullopt;
    if (notes.size() > kMaxNotesBytes) {
        notes.resize(utf8PrefixLength(notes, kMaxNotesBytes - kEllipsis.size()));
        notes += kEllipsis;
    }
    return notes;
}

}  // namespace corvidale::updater
