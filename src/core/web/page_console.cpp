#include "page_console.h"

#include "request_gate.h"

namespace corvidale {

void PageConsole::warn(const std::string& line) {
    if (!lines_.spend()) return;
    web_.evaluateJavaScript("console.warn(" + javaScriptString(line) + ")", {});
}

}  // namespace corvidale
