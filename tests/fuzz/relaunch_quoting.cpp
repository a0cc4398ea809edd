// The relaunch hands a bundle path to /bin/sh inside double quotes: whatever
// the path, the shell must read back exactly that path and run nothing else.
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/updater/relaunch.h"
#include "fuzz.h"

namespace {

// Should the quoting ever fail, the shell runs fuzzed text: then it has nothing
// to read, no commands on its PATH and an empty folder of its own to write into.
const std::string& prologue() {
    static const std::string text = "exec </dev/null; cd '" + scratchFolder() + "' || exit 99; PATH=/nonexistent; ";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string path(asText(data, size));
    path = path.substr(0, path.find('\0'));  // no path holds one
    FILE* shell = ::popen((prologue() + "printf %s " + corvidale::updater::doubleQuoted(path)).c_str(), "r");
    FUZZ_CHECK(shell != nullptr);
    std::string read;
    char buffer[4096];
    for (;;) {
        read.append(buffer, std::fread(buffer, 1, sizeof buffer, shell));
        if (std::feof(shell)) break;
        // libFuzzer's timeout timer interrupts the read once a second.
        FUZZ_CHECK(errno == EINTR);
        std::clearerr(shell);
    }
    const int status = ::pclose(shell);
    FUZZ_CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0 && read == path);
    return 0;
}
