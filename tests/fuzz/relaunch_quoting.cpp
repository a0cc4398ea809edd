// The relaunch hands a bundle path to /bin/sh inside double quotes: whatever
// the path, the shell must read back exactly that path and run nothing else.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "core/updater/relaunch.h"
#include "fuzz.h"

namespace {

// Should the quoting ever fail, the shell runs fuzzed text: no commands on its
// PATH, nothing to read, and an empty folder of its own to write into.
const char* scratchFolder() {
    static char folder[] = "/tmp/corvidale-fuzz-shell-XXXXXX";
    static const bool made = ::mkdtemp(folder) != nullptr && std::atexit([] { ::rmdir(folder); }) == 0;
    FUZZ_CHECK(made);
    return folder;
}

// What `/bin/sh -c 'printf %s <word>'` prints, and whether it exited with 0.
std::string shellReads(const std::string& word, bool& exitedCleanly) {
    const std::string script = "printf %s " + word;
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    int fds[2];
    FUZZ_CHECK(::pipe2(fds, O_CLOEXEC) == 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addchdir_np(&actions, scratchFolder());
    const char* environment[] = {"PATH=/nonexistent", nullptr};
    pid_t pid = -1;
    FUZZ_CHECK(::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv),
                             const_cast<char**>(environment)) == 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    // libFuzzer's timeout timer interrupts both waits once a second.
    for (;;) {
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) FUZZ_CHECK(errno == EINTR);
    exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string path(asText(data, size));
    path = path.substr(0, path.find('\0'));  // no path holds one
    bool exitedCleanly = false;
    const std::string read = shellReads(corvidale::Updater::doubleQuoted(path), exitedCleanly);
    FUZZ_CHECK(exitedCleanly && read == path);
    return 0;
}
