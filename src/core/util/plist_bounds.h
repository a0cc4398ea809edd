#pragma once

#include <cstddef>
#include <string_view>

namespace corvidale {

// An Info.plist is a few kilobytes with a handful of arrays and dictionaries.
inline constexpr std::size_t kMaxPlistBytes = 1024 * 1024;
inline constexpr std::size_t kMaxPlistContainers = 512;
inline constexpr std::size_t kMaxPlistNodes = 1 << 18;

// Whether a property list (XML or binary) is small enough to hand to a
// parser that recurses into nested values and copies shared ones: at most
// kMaxPlistBytes, at most kMaxPlistContainers arrays and dictionaries, and in
// a binary one at most kMaxPlistNodes values once every reference is followed
// (a value used twice counts twice), without cycles. Examines the bytes
// without recursion and without building anything. Bytes that are not a
// property list may pass: the parser refuses those itself.
bool plistWithinBounds(std::string_view bytes);

}  // namespace corvidale
