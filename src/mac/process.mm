#include "process.h"

#import <Foundation/Foundation.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/util/child_process.h"
#include "core/util/line_output.h"
#include "ns_text.h"

namespace corvidale::mac {

void StandardProcess::writeStdout(std::string_view line) { writeLine(stdout, STDOUT_FILENO, line); }

void StandardProcess::writeStderr(std::string_view line) { writeLine(stderr, STDERR_FILENO, line); }

void StandardProcess::systemLog(std::string_view line) { NSLog(@"%@", toNSString(line)); }

bool StandardProcess::startDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    // Not NSTask, which has no public way to start a session: this child must
    // outlive the application, whatever terminal or process group it was
    // started from.
    return corvidale::startDetached(executable, arguments);
}

void StandardProcess::endProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

}  // namespace corvidale::mac
