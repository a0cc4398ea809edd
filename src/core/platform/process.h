#pragma once

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace corvidale::platform {

class Process {
public:
    virtual ~Process() = default;
    // Each writes `line` followed by one line feed, as one piece.
    virtual void writeStdout(std::string_view line) = 0;
    virtual void writeStderr(std::string_view line) = 0;
    // The system log; the text is never used as a format.
    virtual void systemLog(std::string_view line) = 0;
    // Starts `executable` with `arguments` (argv[1] onwards) in a session of
    // its own, without waiting for it, so that it outlives this process.
    // Answers whether it started.
    virtual bool startDetached(const std::string& executable, const std::vector<std::string>& arguments) = 0;
    // Ends the process at once with `status`, after flushing standard output;
    // no termination sequence runs.
    [[noreturn]] void exit(int status) {
        endProcess(status);
        std::abort();  // endProcess never returns; this only tells the compiler
    }

protected:
    // Must not return: exit the process, or (in tests) throw.
    virtual void endProcess(int status) = 0;
};

}  // namespace corvidale::platform
