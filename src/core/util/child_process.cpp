#include "core/util/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "core/util/posix.h"

extern "C" char** environ;

namespace corvidale {
namespace {

using Clock = std::chrono::steady_clock;

// How a child starts: what its standard output and error are, the one
// descriptor of ours it keeps, and whether it gets a process group or a whole
// session of its own.
struct Launch {
    int output = -1;  // onto its standard output; -1: /dev/null
    bool errorsToOutput = true;  // otherwise its standard error is ours
    int sharedFd = -1;
    bool inheritDescriptors = false;
    short separation = POSIX_SPAWN_SETPGROUP;  // or POSIX_SPAWN_SETSID, or 0: neither
    char* const* environment = environ;
};

// posix_spawn's two settings objects, released however the start goes.
class SpawnPlan {
public:
    SpawnPlan() {
        posix_spawn_file_actions_init(&files);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnPlan() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&files);
    }
    SpawnPlan(const SpawnPlan&) = delete;
    SpawnPlan& operator=(const SpawnPlan&) = delete;

    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
};

// The child starts with nothing blocked and every signal it can handle back
// at its default, whatever this process blocks or ignores. Only an ignored
// signal outlives exec; the two that cannot be caught are left out rather
// than left to the kernel's leniency.
short resetSignals(posix_spawnattr_t& attributes) {
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    sigdelset(&signals, SIGKILL);
    sigdelset(&signals, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    return POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
}

void setStreams(posix_spawn_file_actions_t& files, const Launch& launch) {
    // A group or session of its own is not the terminal's: reading the
    // terminal would stop it.
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        if (stream == STDERR_FILENO && !launch.errorsToOutput) continue;
        if (launch.output >= 0) {
            posix_spawn_file_actions_adddup2(&files, launch.output, stream);
        } else {
            posix_spawn_file_actions_addopen(&files, stream, "/dev/null", O_WRONLY, 0);
        }
    }
}

// The shared descriptor reaches the child, without its close-on-exec; unless
// the child inherits what it would anyway, nothing else but the standard
// streams does, whatever another thread opened meanwhile.
short keepOnlyOurs(posix_spawn_file_actions_t& files, const Launch& launch) {
#if defined(__APPLE__)
    if (launch.sharedFd >= 0) posix_spawn_file_actions_addinherit_np(&files, launch.sharedFd);
    if (launch.inheritDescriptors) return 0;
    if (!launch.errorsToOutput) posix_spawn_file_actions_addinherit_np(&files, STDERR_FILENO);
    return POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
    if (launch.inheritDescriptors) {
        // Onto itself: the child's copy loses close-on-exec, this process's keeps it.
        if (launch.sharedFd >= 0) posix_spawn_file_actions_adddup2(&files, launch.sharedFd, launch.sharedFd);
        return 0;
    }
    int firstClosed = STDERR_FILENO + 1;
    if (launch.sharedFd >= 0) posix_spawn_file_actions_adddup2(&files, launch.sharedFd, firstClosed++);
    posix_spawn_file_actions_addclosefrom_np(&files, firstClosed);
    return 0;
#endif
}

// Answers 0 or the start error.
int spawn(const std::string& path, const std::vector<std::string>& arguments, const Launch& launch, pid_t& pid) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    SpawnPlan plan;
    setStreams(plan.files, launch);
    const short flags = resetSignals(plan.attributes) | keepOnlyOurs(plan.files, launch) | launch.separation;
    if (launch.separation == POSIX_SPAWN_SETPGROUP) posix_spawnattr_setpgroup(&plan.attributes, 0);
    posix_spawnattr_setflags(&plan.attributes, flags);
    return ::posix_spawn(&pid, path.c_str(), &plan.files, &plan.attributes, argv.data(), launch.environment);
}

// A pipe whose ends are closed in every program this process starts, and
// neither of which is a standard stream, so that dup2 onto 1 and 2 really
// makes the child's own copies. Answers 0 or the error.
int makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0) return errno;
    Fd ends[2] = {Fd(fds[0]), Fd(fds[1])};
    for (Fd& end : ends) {
        end = Fd(::fcntl(end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
        if (!end) return errno;
    }
    readEnd = std::move(ends[0]);
    writeEnd = std::move(ends[1]);
    return 0;
}

Clock::time_point deadlineAfter(double seconds) {
    // Also NaN and negative: no time at all rather than forever.
    const double bounded = seconds > 0 ? std::min(seconds, 86400.0 * 365) : 0.0;
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

// Whether the process has exited, leaving it unreaped.
bool hasExited(pid_t pid) {
    siginfo_t info{};
    int result = 0;
    while ((result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT)) < 0 &&
           errno == EINTR) {
    }
    return result == 0 && info.si_pid == pid;
}

// A started child: whatever way the run ends, it (or its process group) is
// killed and the child reaped. Until it is reaped its id is not reused, so
// the group cannot be anyone else's.
class Child {
public:
    Child(pid_t pid, bool ownGroup) : pid_(pid), target_(ownGroup ? -pid : pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) end();
    }

    pid_t pid() const { return pid_; }

    void waitForExit(Clock::time_point deadline) const {
        auto pause = std::chrono::microseconds(500);
        while (!hasExited(pid_) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
            pause = std::min(pause * 2, std::chrono::microseconds(20000));
        }
    }

    // Kills what is left of it and reaps it; answers its wait status.
    int end() {
        ::kill(target_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_;
    pid_t target_;
};

// Hands on or keeps what the child wrote, at most `maxBytes` of it.
void take(std::string& bytes, const char* data, std::size_t length, const ChildOptions& options) {
    if (options.onOutput) return options.onOutput(std::string_view(data, length));
    bytes.append(data, std::min(length, options.maxOutputBytes - std::min(options.maxOutputBytes, bytes.size())));
}

// Reads from `fd` until it ends, the child has exited (what it wrote is in
// the pipe by then; a child of its may hold the pipe open for ever, or keep
// writing), or the deadline.
std::string collectOutput(int fd, pid_t pid, Clock::time_point deadline, const ChildOptions& options) {
    // More than a pipe ever holds: what comes after the exit beyond this is
    // not the child's own.
    constexpr std::size_t kAfterExit = 1 << 20;
    std::string bytes;
    char buffer[65536];
    bool exited = false;
    std::size_t afterExit = 0;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || afterExit > kAfterExit || (options.stop && options.stop())) break;
        if (!exited && hasExited(pid)) {
            exited = true;
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        pollfd ready{fd, POLLIN, 0};
        if (!exited) {
            const int polled = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 50)));
            if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end, or nothing more from an exited child
        if (exited) afterExit += static_cast<std::size_t>(got);
        take(bytes, buffer, static_cast<std::size_t>(got), options);
    }
    return bytes;
}

}  // namespace

ChildResult runChild(const std::string& path, const std::vector<std::string>& arguments, const ChildOptions& options) {
    ChildResult result;
    Fd readEnd, writeEnd;
    pid_t pid = -1;
    if ((result.startError = makePipe(readEnd, writeEnd)) != 0) return result;
    Launch launch;
    launch.output = writeEnd.get();
    launch.errorsToOutput = options.errorsToOutput;
    launch.sharedFd = options.sharedFd;
    launch.inheritDescriptors = options.inheritDescriptors;
    launch.separation = options.ownProcessGroup ? POSIX_SPAWN_SETPGROUP : 0;
    if ((result.startError = spawn(path, arguments, launch, pid)) != 0) return result;
    writeEnd = Fd();
    Child child(pid, options.ownProcessGroup);
    if (options.started) options.started(pid);
    const auto deadline = deadlineAfter(options.seconds);
    result.output = collectOutput(readEnd.get(), pid, deadline, options);
    // Whatever it left running, holding the pipe or not, ends with it.
    child.waitForExit(options.stop && options.stop() ? Clock::now() : deadline);
    const int status = child.end();
    result.exited = WIFEXITED(status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    return result;
}

bool startDetached(const std::string& path, const std::vector<std::string>& arguments,
                   const std::vector<std::string>* environment) {
    Launch launch;
    launch.separation = POSIX_SPAWN_SETSID;
    std::vector<char*> entries;
    if (environment != nullptr) {
        for (const auto& entry : *environment) entries.push_back(const_cast<char*>(entry.c_str()));
        entries.push_back(nullptr);
        launch.environment = entries.data();
    }
    // Not waited for: it is started just before this process ends, and then
    // belongs to init.
    pid_t pid = 0;
    return spawn(path, arguments, launch, pid) == 0;
}

}  // namespace corvidale
