#pragma once

#include <string>
#include <string_view>

#include "core/platform/application.h"

namespace corvidale {

// A screen of the shell's own, shown in the window in place of the web
// application when it cannot show the application: its name, one sentence of
// what happened and one button.
struct ShellPage {
    std::string heading;
    std::string message;
    std::string buttonTitle;
};

// The page as HTML: the texts escaped, colours of the window's appearance, no
// script and nothing to fetch. Its button is a link to `actionURL`, which
// only the shell knows and answers (see newShellActionURL).
std::string shellPageHTML(const ShellPage& page, platform::Appearance appearance, std::string_view actionURL);

// A URL no page can guess, of a scheme nothing serves: following it is how
// the shell's page reaches the shell, and no other page can.
std::string newShellActionURL();

std::string escapeHTML(std::string_view text);

}  // namespace corvidale
