#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace corvidale {

// Whether `text` holds a C0 or C1 control character (C1 as UTF-8) or DEL:
// text that would reach a terminal, a window title or an alert as commands
// rather than as what it says. A version holding one is refused everywhere,
// by the clients and by the release tools alike.
bool hasControlCharacter(std::string_view text);

// `text` with ASCII letters in lower case and every other byte as it is: the
// same in every locale, as URLs, hosts and hex digests are compared.
std::string asciiLower(std::string text);

// Whether `bytes` are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// `bytes` as UTF-8, each invalid sequence (its maximal part) replaced by U+FFFD.
std::string decodeUtf8(std::string_view bytes);

// Calls `each` with every character of `bytes` read as decodeUtf8 reads
// them: its code point and its UTF-8 bytes (U+FFFD and its bytes for each
// invalid sequence).
void forEachCharacter(std::string_view bytes, const std::function<void(char32_t, std::string_view)>& each);

// The length of the longest start of `text` of at most `maxBytes` bytes that
// does not end inside a character.
std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes);

// `text` unchanged up to `characters` characters, otherwise its first
// `characters` characters and "…". Characters are counted in UTF-8 and the
// cut never splits one; bytes that are not valid UTF-8 count with the
// character before them.
std::string shortenedText(std::string_view text, std::size_t characters);

}  // namespace corvidale
