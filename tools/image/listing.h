// The check of an image's listing ("unsquashfs -lln"), read before anything
// is extracted. The listing is the image's own account of itself, so every
// line is hostile text.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "common/fs.h"

namespace corvidale::tools {

inline constexpr std::uint64_t kMaxExtractedBytes = 16ULL << 30;
inline constexpr std::uint64_t kMaxEntries = 1'000'000;

inline bool isModeString(const std::string& line) {
    if (line.size() < 11 || line[10] != ' ' || std::strchr("-dlcbps", line[0]) == nullptr) return false;
    for (int i = 1; i < 10; ++i) {
        if (std::strchr("-rwxsStT", line[i]) == nullptr) return false;
    }
    return true;
}

// Reads one line of "unsquashfs -lln". A name holding a newline continues on
// lines of its own; those are skipped unless they look like an entry, and then
// they can only make the check stricter, never hide a real entry, whose own
// line starts with its real mode.
struct ListingCheck {
    std::uint64_t bytes = 0;
    std::uint64_t entries = 0;

    void operator()(const std::string& line) {
        if (!isModeString(line)) return;
        if (++entries > kMaxEntries) throw ToolError("the image holds too many entries");
        if (std::strchr("cbps", line[0]) != nullptr) {
            throw ToolError("the image holds a device, pipe or socket");
        }
        if (std::strchr("sS", line[3]) != nullptr || std::strchr("sS", line[6]) != nullptr) {
            throw ToolError("the image holds a set-user-ID or set-group-ID file");
        }
        if (line[0] != '-') return;
        // mode, owner/group, size
        const std::size_t owner = line.find_first_not_of(' ', 10);
        const std::size_t ownerEnd = owner == std::string::npos ? owner : line.find(' ', owner);
        const std::size_t size = ownerEnd == std::string::npos ? ownerEnd : line.find_first_not_of(' ', ownerEnd);
        if (size == std::string::npos || line[size] < '0' || line[size] > '9') {
            throw ToolError("unreadable listing of the image");
        }
        std::uint64_t value = 0;
        for (std::size_t i = size; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
            if (value > kMaxExtractedBytes) break;
            value = value * 10 + static_cast<unsigned>(line[i] - '0');
        }
        bytes += value;
        if (bytes > kMaxExtractedBytes) throw ToolError("the image is too large once extracted");
    }
};

}  // namespace corvidale::tools
