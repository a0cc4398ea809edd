#include "tool_runner.h"

#include "core/platform/error.h"
#include "core/util/child_process.h"

namespace corvidale::updater {
namespace {

bool between(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

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

}  // namespace

ToolResult runTool(const std::string& path, const std::vector<std::string>& arguments, const ToolOptions& options) {
    ChildOptions child;
    child.seconds = options.seconds;
    child.maxOutputBytes = options.maxOutputBytes;
    child.sharedFd = options.sharedFd;
    child.started = options.started;
    const ChildResult run = runChild(path, arguments, child);
    if (run.startError != 0) return {-1, platform::posixError(run.startError, path).fullDescription, run.startError};
    return {run.status, decodeUTF8(run.output), 0};
}

std::string decodeUTF8(std::string_view bytes) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            text += static_cast<char>(lead);
            ++at;
            continue;
        }
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
        if (needed > 0 && got == needed) {
            text.append(bytes.substr(at, end - at));
        } else {
            text += kReplacement;  // one for the longest start of a sequence
        }
        at = end;
    }
    return text;
}

}  // namespace corvidale::updater
