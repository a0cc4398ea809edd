#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace corvidale {

struct ChildOptions {
    // The whole run, whatever the child leaves behind: at the deadline its
    // process group is killed.
    double seconds = std::numeric_limits<double>::infinity();
    // Output past this is read and dropped, so the child never blocks on a
    // full pipe and memory stays bounded.
    std::size_t maxOutputBytes = std::numeric_limits<std::size_t>::max();
    // Standard error joins standard output; otherwise it stays this process's.
    bool errorsToOutput = true;
    // A process group of its own, all of which ends with the run; otherwise
    // it stays in this process's group, and only the child itself is ended.
    bool ownProcessGroup = true;
    // A descriptor that the child and its children keep open (-1: none): a
    // lock on it stays held for as long as any of them lives.
    int sharedFd = -1;
    // Whether whatever this process holds open without close-on-exec reaches
    // the child too, as a lock shared with this process must reach the
    // programs it starts in turn; otherwise only the standard streams and the
    // shared descriptor do.
    bool inheritDescriptors = false;
    // Told the child's process id, which names its group too, as soon as it runs.
    std::function<void(int processGroup)> started;
    // Each piece of output as it comes, instead of collecting it. What it
    // throws ends the run (the child's group is killed) and is passed on.
    std::function<void(std::string_view piece)> onOutput;
    // Asked while the child runs, a few times a second: answering true ends
    // the run at once, as the deadline would.
    std::function<bool()> stop;
};

struct ChildResult {
    // The errno when it could not be started; then nothing else is set.
    int startError = 0;
    // Whether it ended by exit (status is its exit status) rather than by a
    // signal (status is the signal number).
    bool exited = false;
    std::int32_t status = -1;
    std::string output;
};

// Runs `path` with `arguments` (argv[1] onwards), never through a shell, with
// this process's environment and working folder, /dev/null as its input and
// default signal handling. Reads what it writes while it runs, so any amount passes.
// Returns once it has exited, or at the deadline; either way nothing of it
// (of its process group, by default) is left running.
ChildResult runChild(const std::string& path, const std::vector<std::string>& arguments,
                     const ChildOptions& options = {});

// Starts `path` in a session of its own, so that it outlives this process and
// its group, with /dev/null for its standard streams, default signal handling
// and no descriptor of this process, and does not wait for it. `environment`
// (NAME=value entries) is this process's when null. Answers whether it started.
bool startDetached(const std::string& path, const std::vector<std::string>& arguments,
                   const std::vector<std::string>* environment = nullptr);

}  // namespace corvidale
