#include "process.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/util/child_process.h"
#include "core/util/line_output.h"
#include "rendering.h"

extern "C" char** environ;

namespace corvidale::gtk {

void StandardProcess::writeStdout(std::string_view line) { writeLine(stdout, STDOUT_FILENO, line); }

void StandardProcess::writeStderr(std::string_view line) { writeLine(stderr, STDERR_FILENO, line); }

void StandardProcess::systemLog(std::string_view line) {
    static const bool opened = [] {
        ::openlog("corvidale", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    const std::string text(line);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
}

bool StandardProcess::startDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    // The child chooses its own rendering, as this process did.
    std::vector<std::string> environment;
    const auto& set = variablesSetForRendering();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto name = text.substr(0, text.find('='));
        if (std::none_of(set.begin(), set.end(), [&](const auto& variable) { return variable.first == name; })) {
            environment.emplace_back(text);
        }
    }
    return corvidale::startDetached(executable, arguments, &environment);
}

void StandardProcess::endProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

}  // namespace corvidale::gtk
