#include "command_line.h"

#include <algorithm>
#include <string_view>

namespace corvidale::gtk {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A scheme and its colon first, as every URL starts.
bool looksLikeURL(std::string_view argument) {
    const auto colon = argument.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAsciiLetter(argument[0])) return false;
    return std::all_of(argument.begin(), argument.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) break;
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            result.help = true;
        } else if (argument == "--version") {
            result.version = true;
        } else if (argument.size() > 1 && argument[0] == '-' && argument[1] != '-') {
            // "-key value": the value is whatever follows, even when it starts
            // with a dash, so that "-offset -1" means what it says. A key at
            // the very end has no value and sets nothing.
            if (i + 1 < argc && argv[i + 1] != nullptr) {
                result.argumentDomain[std::string(argument.substr(1))] = argv[i + 1];
                ++i;
            } else {
                result.ignored.emplace_back(argument);
            }
        } else if (looksLikeURL(argument)) {
            result.links.emplace_back(argument);
        } else {
            result.ignored.emplace_back(argument);
        }
    }
    return result;
}

std::string usageText() {
    return "Usage: corvidale [--help] [--version] [-key value ...] [LINK]\n"
           "\n"
           "Shows the Corvidale web application in its own window.\n"
           "A LINK of the application's own scheme (corvidale://open/PATH?QUERY unless\n"
           "the build names another) opens that page, in the shell already running if\n"
           "there is one.\n"
           "\n"
           "Options:\n"
           "  --help       Show this help and exit.\n"
           "  --version    Show the version and build number and exit.\n"
           "  -key value   Use value for the preference key during this run only;\n"
           "               nothing is saved (for example: -downloadSelfTest YES).\n"
           "               -WebKitMockCaptureDevices YES gives the page a fake camera and\n"
           "               microphone, for testing on machines without them.\n"
           "\n"
           "Environment:\n"
           "  CORVIDALE_ORIGIN   https origin of the web application, when the bundle names none.\n"
           "  CORVIDALE_STAMP    build stamp for the user agent, when the bundle names none.\n";
}

}  // namespace corvidale::gtk
