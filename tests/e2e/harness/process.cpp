#include "process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace corvidale::e2e {
namespace {

// What the child reports through the exec pipe when it cannot get as far as exec.
struct ChildFailure {
    int stage;
    int error;
};

enum Stage : int { kStageStdio = 1, kStageUnshare, kStagePrivate, kStageBind, kStageChdir, kStageExec, kStageParent };

const char* stageName(int stage) {
    switch (stage) {
        case kStageStdio: return "redirecting stdio";
        case kStageUnshare: return "unshare(CLONE_NEWNS)";
        case kStagePrivate: return "making / private";
        case kStageBind: return "bind-mounting";
        case kStageChdir: return "changing the working directory";
        case kStageExec: return "exec";
        case kStageParent: return "test process went away";
        default: return "setting up";
    }
}

[[noreturn]] void failInChild(int pipeFd, int stage) {
    const ChildFailure failure{stage, errno};
    [[maybe_unused]] auto written = ::write(pipeFd, &failure, sizeof failure);
    ::_exit(127);
}

ExitStatus decode(int raw) {
    ExitStatus status;
    if (WIFEXITED(raw)) {
        status.exited = true;
        status.code = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        status.signal = WTERMSIG(raw);
    }
    return status;
}

std::string temporaryFile(const char* tag) {
    std::string pattern = std::string("/tmp/corvidale-e2e-") + tag + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed: " + std::string(std::strerror(errno)));
    ::close(fd);
    return pattern;
}

}  // namespace

std::string ExitStatus::describe() const {
    if (exited) return "exit status " + std::to_string(code);
    if (signal) return std::string("killed by signal ") + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
    return "unknown end";
}

Child::Child(const SpawnOptions& options) : ownGroup_(options.newProcessGroup) {
    if (options.argv.empty()) throw std::invalid_argument("Child: empty argv");

    // Everything the child touches is laid out before fork: the test process
    // has server threads, so the child may only make async-signal-safe calls.
    std::vector<char*> argv;
    for (const auto& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : options.environment) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (const auto& entry : envStrings) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    int execPipe[2];
    if (::pipe2(execPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(execPipe[0]);
        ::close(execPipe[1]);
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    }
    if (pid_ == 0) {
        ::close(execPipe[0]);
        if (options.newProcessGroup) ::setpgid(0, 0);
        // Nothing of a run may outlive a test process that was killed by its runner.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) failInChild(execPipe[1], kStageParent);

        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);

        const int in = ::open(options.stdinPath.c_str(), O_RDONLY);
        const int out = ::open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int err = ::open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0 || err < 0) failInChild(execPipe[1], kStageStdio);
        if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) failInChild(execPipe[1], kStageStdio);
        if (in > 2) ::close(in);
        if (out > 2) ::close(out);
        if (err > 2) ::close(err);

        if (!options.bindMounts.empty()) {
            if (::unshare(CLONE_NEWNS) != 0) failInChild(execPipe[1], kStageUnshare);
            // Private propagation keeps the binds below from leaking back into
            // the host's namespace.
            if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                failInChild(execPipe[1], kStagePrivate);
            }
            for (const auto& bind : options.bindMounts) {
                if (::mount(bind.source.c_str(), bind.target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                    failInChild(execPipe[1], kStageBind);
                }
            }
        }
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            failInChild(execPipe[1], kStageChdir);
        }
        for (int fd : options.inheritedDescriptors) ::fcntl(fd, F_SETFD, 0);

        ::execve(argv[0], argv.data(), envp.data());
        failInChild(execPipe[1], kStageExec);
    }

    ::close(execPipe[1]);
    if (options.newProcessGroup) ::setpgid(pid_, pid_);  // no window where the group does not exist yet
    ChildFailure failure{};
    ssize_t got;
    do {
        got = ::read(execPipe[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(execPipe[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
        pid_ = -1;
        throw std::runtime_error("could not start " + options.argv[0] + ": " + stageName(failure.stage) + ": " +
                                 std::strerror(failure.error));
    }
}

Child::~Child() { terminate(); }

std::optional<ExitStatus> Child::poll() {
    if (status_ || pid_ < 0) return status_;
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) status_ = decode(raw);
    return status_;
}

std::optional<ExitStatus> Child::waitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (auto status = poll()) return status;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void Child::signalGroup(int signal) {
    if (pid_ < 0) return;
    if (ownGroup_) {
        ::kill(-pid_, signal);
    } else if (!status_) {
        ::kill(pid_, signal);
    }
}

void Child::terminate() {
    if (pid_ < 0) return;
    // The group may outlive its leader (engine helpers, a launched browser
    // stand-in), so it is signalled even after the leader has been reaped.
    signalGroup(SIGKILL);
    if (!status_) {
        int raw = 0;
        while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        status_ = decode(raw);
    }
    if (ownGroup_) {
        // The test process is a subreaper (main), so the group's orphans are
        // its children: reap them all, so that nothing of the run still
        // writes into its folders when they are removed.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int raw = 0;
            const pid_t done = ::waitpid(-pid_, &raw, WNOHANG);
            if (done > 0) continue;
            if (done < 0 && errno != EINTR) break;  // ECHILD: none left
            ::kill(-pid_, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    pid_ = -1;
}

std::string CommandResult::describe() const {
    std::ostringstream text;
    text << (status ? status->describe() : std::string("timed out")) << "\n--- stdout ---\n"
         << out << "\n--- stderr ---\n"
         << err;
    return text.str();
}

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string::npos) continue;
        environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    return environment;
}

CommandResult runCommand(const std::vector<std::string>& argv, const Environment& overrides,
                         std::chrono::milliseconds timeout) {
    Environment environment = currentEnvironment();
    for (const auto& [name, value] : overrides) {
        if (value.empty()) {
            environment.erase(name);
        } else {
            environment[name] = value;
        }
    }
    // Tools are named without a path; resolve them the way a shell would.
    std::vector<std::string> resolved = argv;
    if (!resolved.empty() && resolved[0].find('/') == std::string::npos) {
        std::istringstream path(environment.count("PATH") ? environment["PATH"] : "/usr/bin:/bin");
        std::string folder;
        while (std::getline(path, folder, ':')) {
            const std::string candidate = folder + "/" + resolved[0];
            if (::access(candidate.c_str(), X_OK) == 0) {
                resolved[0] = candidate;
                break;
            }
        }
    }

    SpawnOptions options;
    options.argv = resolved;
    options.environment = environment;
    options.stdoutPath = temporaryFile("out");
    options.stderrPath = temporaryFile("err");
    CommandResult result;
    {
        Child child(options);
        result.status = child.waitFor(timeout);
    }
    result.out = readFile(options.stdoutPath);
    result.err = readFile(options.stderrPath);
    ::unlink(options.stdoutPath.c_str());
    ::unlink(options.stderrPath.c_str());
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& contents, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + path);
        out << contents;
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace corvidale::e2e
