#pragma once

#include <string_view>

namespace corvidale {

// Whether `text` holds a C0 or C1 control character (C1 as UTF-8) or DEL:
// text that would reach a terminal, a window title or an alert as commands
// rather than as what it says. A version holding one is refused everywhere,
// by the clients and by the release tools alike.
bool hasControlCharacter(std::string_view text);

}  // namespace corvidale
