#include "core/util/text.h"

namespace corvidale {
namespace {

bool between(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// How many continuation bytes follow `lead`, and the range the first of them
// must lie in (which rules out overlong forms, surrogates and values past
// U+10FFFF). No continuation for a byte that starts no sequence.
int continuationOf(unsigned char lead, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (between(lead, 0xC2, 0xDF)) return 1;
    if (between(lead, 0xE0, 0xEF)) {
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
        return 2;
    }
    if (between(lead, 0xF0, 0xF4)) {
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
        return 3;
    }
    return 0;
}

// The sequence that starts at `at`: its length (the longest start of a
// well-formed one, at least one byte) and whether it is whole.
std::size_t sequenceAt(std::string_view bytes, std::size_t at, bool& whole) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    whole = lead < 0x80;
    if (whole) return 1;
    unsigned char low = 0, high = 0;
    const int needed = continuationOf(lead, low, high);
    std::size_t end = at + 1;
    int got = 0;
    while (got < needed && end < bytes.size() && between(static_cast<unsigned char>(bytes[end]), low, high)) {
        ++end;
        ++got;
        low = 0x80;
        high = 0xBF;
    }
    whole = needed > 0 && got == needed;
    return end - at;
}

}  // namespace

bool hasControlCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) return true;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return true;
    }
    return false;
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool isValidUtf8(std::string_view bytes) {
    bool whole = true;
    for (std::size_t at = 0; at < bytes.size() && whole;) at += sequenceAt(bytes, at, whole);
    return whole;
}

void forEachCharacter(std::string_view bytes, const std::function<void(char32_t, std::string_view)>& each) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    for (std::size_t at = 0; at < bytes.size();) {
        bool whole = false;
        const std::size_t length = sequenceAt(bytes, at, whole);
        if (whole) {
            char32_t value = static_cast<unsigned char>(bytes[at]) & kLeadBits[length];
            for (std::size_t i = 1; i < length; ++i) value = value << 6 | (static_cast<unsigned char>(bytes[at + i]) & 0x3F);
            each(value, bytes.substr(at, length));
        } else {
            each(0xFFFD, kReplacement);  // one for the longest start of a sequence
        }
        at += length;
    }
}

std::string decodeUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    forEachCharacter(bytes, [&text](char32_t, std::string_view character) { text += character; });
    return text;
}

std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    std::size_t cut = maxBytes;
    while (cut > 0 && isContinuation(text[cut])) --cut;
    return cut;
}

std::string shortenedText(std::string_view text, std::size_t characters) {
    std::size_t counted = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isContinuation(text[i])) continue;
        if (counted == characters) return std::string(text.substr(0, i)) + "…";
        ++counted;
    }
    return std::string(text);
}

}  // namespace corvidale
