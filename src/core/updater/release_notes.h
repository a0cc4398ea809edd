#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvidale::updater {

// Notes longer than this are cut.
inline constexpr std::size_t kMaxNotesBytes = 16 * 1024;

// A release's notes as an alert may show them: plain text that can neither
// steer a terminal or a log (control characters other than newline and tab
// go) nor reorder the text around it (direction marks, embeddings, overrides
// and isolates go), at most kMaxNotesBytes, cut between characters and ended
// with an ellipsis. Nothing when no text is left.
std::optional<std::string> plainNotes(std::string_view text);

}  // namespace corvidale::updater
