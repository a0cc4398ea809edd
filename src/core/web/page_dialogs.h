#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvidale {

// The longest page dialog text, in characters, that is shown in full. A page
// may pass megabytes; laying that out would stall the interface for minutes.
inline constexpr std::size_t kPageDialogTextLimit = 10000;

// `text` as a page dialog shows it: unchanged up to `limit` characters,
// otherwise its first `limit` characters and "…". Characters are counted in
// UTF-8 and the cut never splits one; bytes that are not valid UTF-8 count
// with the character before them.
std::string pageDialogText(std::string_view text, std::size_t limit = kPageDialogTextLimit);

}  // namespace corvidale
