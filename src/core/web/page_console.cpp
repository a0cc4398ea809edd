#include "page_console.h"

#include "request_gate.h"

namespace corvidale {

void PageConsole::warn(const std::string& line) {
    if (*recentLines_ >= kConsoleLinesPerMinute) return;
    ++*recentLines_;
    queue_.after(60.0, [lines = std::weak_ptr<unsigned>(recentLines_)] {
        if (auto left = lines.lock()) --*left;
    });
    web_.evaluateJavaScript("console.warn(" + javaScriptString(line) + ")", {});
}

}  // namespace corvidale
