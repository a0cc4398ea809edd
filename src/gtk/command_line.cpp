#include "command_line.h"

#include <string_view>

namespace corvidale::gtk {

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
        } else {
            result.ignored.emplace_back(argument);
        }
    }
    return result;
}

std::string usageText() {
    return "Usage: corvidale [--help] [--version] [-key value ...]\n"
           "\n"
           "Shows the Corvidale web application in its own window.\n"
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
