#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvidale::e2e {

using Environment = std::map<std::string, std::string>;

// How a child ended: either an exit status or the signal that killed it.
struct ExitStatus {
    bool exited = false;
    int code = -1;
    int signal = 0;

    bool success() const { return exited && code == 0; }
    std::string describe() const;
};

// A file to lay over another one inside a private mount namespace of the child.
struct BindMount {
    std::string source;
    std::string target;
};

struct SpawnOptions {
    std::vector<std::string> argv;
    // The complete environment of the child; nothing is inherited implicitly,
    // so a stray variable of the test runner cannot change the app's behaviour.
    Environment environment;
    std::string stdinPath = "/dev/null";
    std::string stdoutPath = "/dev/null";
    std::string stderrPath = "/dev/null";
    // Own process group, so that teardown reaches the helpers a child starts.
    bool newProcessGroup = true;
    // Non-empty: the child gets a private mount namespace with these binds,
    // the same as `unshare -m --propagation private` followed by `mount --bind`.
    std::vector<BindMount> bindMounts;
    // Descriptors the child keeps open across exec (they are CLOEXEC here).
    std::vector<int> inheritedDescriptors;
    // Empty: the test process's own.
    std::string workingDirectory;
};

// A running child process. Destroying it kills its whole process group and reaps it.
class Child {
public:
    explicit Child(const SpawnOptions& options);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status, once known; polls without blocking.
    std::optional<ExitStatus> poll();
    std::optional<ExitStatus> waitFor(std::chrono::milliseconds timeout);
    // Sends `signal` to the child's process group (or the child alone when it has none).
    void signalGroup(int signal);
    // Kills the group and reaps the child; safe to call more than once.
    void terminate();

private:
    pid_t pid_ = -1;
    bool ownGroup_ = true;
    std::optional<ExitStatus> status_;
};

struct CommandResult {
    std::optional<ExitStatus> status;  // nullopt: timed out and killed
    std::string out;
    std::string err;

    bool success() const { return status && status->success(); }
    std::string describe() const;
};

// Runs a helper tool to completion with the test process's environment plus
// `overrides` (an empty value removes a variable).
CommandResult runCommand(const std::vector<std::string>& argv, const Environment& overrides = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The test process's own environment.
Environment currentEnvironment();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents, mode_t mode = 0644);
std::vector<std::string> splitLines(const std::string& text);
std::string shellQuote(const std::string& text);

}  // namespace corvidale::e2e
