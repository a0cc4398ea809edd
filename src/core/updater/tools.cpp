#include "tools.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#if defined(__APPLE__)
#include <CommonCrypto/CommonDigest.h>
#else
#include <openssl/evp.h>

#include <memory>
#endif

#include "core/util/spawn.h"
#include "failure.h"

extern char** environ;

namespace corvidale::Updater {
namespace {

std::string hex(const unsigned char* bytes, std::size_t length, const char* digits) {
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

// One SHA-256 fed in pieces: CommonCrypto on macOS, OpenSSL elsewhere.
class Digest {
public:
#if defined(__APPLE__)
    Digest() { CC_SHA256_Init(&context_); }
    void update(const char* data, std::size_t length) {
        // CommonCrypto counts a piece in 32 bits.
        while (length > 0) {
            const auto piece = static_cast<CC_LONG>(std::min<std::size_t>(length, 1U << 30));
            CC_SHA256_Update(&context_, data, piece);
            data += piece;
            length -= piece;
        }
    }
    std::string finish() {
        unsigned char value[CC_SHA256_DIGEST_LENGTH];
        CC_SHA256_Final(value, &context_);
        return hex(value, sizeof value, "0123456789abcdef");
    }

private:
    CC_SHA256_CTX context_;
#else
    Digest() : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
    }
    void update(const char* data, std::size_t length) {
        if (EVP_DigestUpdate(context_.get(), data, length) != 1) throw std::bad_alloc();
    }
    std::string finish() {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), value, &length) != 1) throw std::bad_alloc();
        return hex(value, length, "0123456789abcdef");
    }

private:
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context_;
#endif
};

// A pipe whose ends are closed in every program this process starts, and
// neither of which is a standard stream, so that dup2 onto 1 and 2 really
// makes the child's own copies.
bool makePipe(int fds[2]) {
#if defined(__linux__)
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
#else
    if (::pipe(fds) != 0) return false;
    for (int i = 0; i < 2; ++i) ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
#endif
    for (int i = 0; i < 2; ++i) {
        if (fds[i] > STDERR_FILENO) continue;
        const int moved = ::fcntl(fds[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fds[i]);
        fds[i] = moved;
    }
    if (fds[0] >= 0 && fds[1] >= 0) return true;
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0) ::close(fds[i]);
    }
    return false;
}

ToolResult startFailure(int code, const std::string& path) {
    return {-1, "Error Domain=NSPOSIXErrorDomain Code=" + std::to_string(code) + " \"" + std::strerror(code) +
                    "\" UserInfo={NSFilePath=" + path + "}"};
}

void removeEntry(int folderFd, const std::string& name) {
    struct stat info {};
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (!S_ISDIR(info.st_mode)) {
        ::unlinkat(folderFd, name.c_str(), 0);
        return;
    }
    if ((info.st_mode & S_IRWXU) != S_IRWXU) ::fchmodat(folderFd, name.c_str(), info.st_mode | S_IRWXU, 0);
    const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* folder = ::fdopendir(fd);
    if (folder == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string child = entry->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    for (const auto& child : names) removeEntry(fd, child);
    ::closedir(folder);
    ::unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);
}

bool between(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

using Clock = std::chrono::steady_clock;

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

void waitForExit(pid_t pid, Clock::time_point deadline) {
    auto pause = std::chrono::microseconds(500);
    while (!hasExited(pid) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

// Reads from `fd` until it ends, the tool's leader has exited (what it wrote
// is in the pipe by then; a child of its may hold the pipe open for ever, or
// keep writing), or the deadline. Keeps at most `maxBytes`.
std::string collectOutput(int fd, pid_t pid, Clock::time_point deadline, std::size_t maxBytes) {
    // More than a pipe ever holds: what comes after the leader's exit beyond
    // this is not the leader's.
    constexpr std::size_t kAfterExit = 1 << 20;
    std::string bytes;
    char buffer[65536];
    bool leaderExited = false;
    std::size_t afterExit = 0;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || afterExit > kAfterExit) break;
        if (!leaderExited && hasExited(pid)) {
            leaderExited = true;
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        pollfd ready{fd, POLLIN, 0};
        if (!leaderExited) {
            const int polled = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 50)));
            if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // the end, or nothing more from an exited leader
        if (leaderExited) afterExit += static_cast<std::size_t>(got);
        bytes.append(buffer, std::min(static_cast<std::size_t>(got), maxBytes - std::min(maxBytes, bytes.size())));
    }
    return bytes;
}

// Starts the tool in a process group of its own, its output and errors into
// `outFd`. Answers 0 or the start error.
int spawnTool(const std::string& path, const std::vector<std::string>& arguments, int outFd, int sharedFd, pid_t& pid) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    // Its own group is not the terminal's: reading the terminal would stop it.
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files, outFd, STDERR_FILENO);
    // Whatever this process blocks or ignores is not the tool's business.
    posix_spawnattr_t attributes;
    short flags = initSpawnAttributes(attributes) | POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
#if defined(__APPLE__)
    // Only the standard streams (and the shared descriptor) reach the tool,
    // whatever another thread opened meanwhile without close-on-exec.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    if (sharedFd >= 0) posix_spawn_file_actions_addinherit_np(&files, sharedFd);
#else
    // Onto itself: the child's copy loses close-on-exec, this process's keeps it.
    if (sharedFd >= 0) posix_spawn_file_actions_adddup2(&files, sharedFd, sharedFd);
#endif
    posix_spawnattr_setflags(&attributes, flags);
    const int error = ::posix_spawn(&pid, path.c_str(), &files, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return error;
}

}  // namespace

ToolResult runTool(const std::string& path, const std::vector<std::string>& arguments, const ToolOptions& options) {
    int fds[2] = {-1, -1};
    if (!makePipe(fds)) return startFailure(errno, path);
    pid_t pid = -1;
    const int error = spawnTool(path, arguments, fds[1], options.sharedFd, pid);
    ::close(fds[1]);
    if (error != 0) {
        ::close(fds[0]);
        return startFailure(error, path);
    }
    if (options.started) options.started(pid);

    const auto deadline = deadlineAfter(options.seconds);
    std::string bytes = collectOutput(fds[0], pid, deadline, options.maxOutputBytes);
    ::close(fds[0]);
    // The leader has exited (or its time is up) but is not reaped yet, so the
    // group's id cannot have gone to anyone else: whatever it left running,
    // holding the pipe or not, ends here.
    waitForExit(pid, deadline);
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ToolResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    result.output = decodeUTF8(bytes);
    return result;
}

std::string decodeUTF8(std::string_view bytes) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            text += static_cast<char>(lead);
            ++at;
            continue;
        }
        // How many continuation bytes follow, and the range the first of them
        // must lie in (which rules out overlong forms, surrogates and values
        // past U+10FFFF).
        int needed = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (between(lead, 0xC2, 0xDF)) {
            needed = 1;
        } else if (between(lead, 0xE0, 0xEF)) {
            needed = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (between(lead, 0xF0, 0xF4)) {
            needed = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        std::size_t end = at + 1;
        int got = 0;
        while (got < needed && end < bytes.size() && between(static_cast<unsigned char>(bytes[end]), low, high)) {
            ++end;
            ++got;
            low = 0x80;
            high = 0xBF;
        }
        if (needed > 0 && got == needed) {
            text.append(bytes.substr(at, end - at));
        } else {
            text += kReplacement;  // one for the longest start of a sequence
        }
        at = end;
    }
    return text;
}

std::string sha256Hex(std::string_view bytes) {
    Digest digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish();
}

std::string sha256HexOfFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw SystemError::fromErrno(errno, path);
    Digest digest;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            throw SystemError::fromErrno(code, path);
        }
        if (got == 0) break;
        digest.update(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return digest.finish();
}

void removeTree(const std::string& path) { removeEntry(AT_FDCWD, path); }

std::string makeUUID() {
    std::random_device source;
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const auto word = static_cast<std::uint32_t>(source());
        for (int j = 0; j < 4; ++j) bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    const std::string digits = hex(bytes, sizeof bytes, "0123456789ABCDEF");
    return digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" + digits.substr(16, 4) +
           "-" + digits.substr(20);
}

const ToolTable& toolTable(TargetSystem system) {
    static const ToolTable mac{
        {"/usr/bin/hdiutil", {"attach", "{image}", "-nobrowse", "-readonly", "-noautoopen", "-mountpoint", "{mount}"}},
        {"/usr/bin/codesign", {"--verify", "--deep", "--strict", "{app}"}},
        {"/usr/bin/codesign", {"-dv", "--verbose=2", "{app}"}, 60},
        {"/usr/sbin/spctl", {"--assess", "--type", "execute", "{app}"}, 300},
        {"/usr/bin/ditto", {"{app}", "{staging}"}},
        {"/usr/bin/hdiutil", {"detach", "{mount}", "-force"}},
    };
    // Linux has no system tools for images and signatures: the installed
    // app's own helpers stand in, never those of the download. An app that
    // cannot even print its version within 10 s is refused; it runs only
    // once its seal has verified.
    static const ToolTable linux{
        {"{helpers}/corvidale-image", {"attach", "{image}", "{mount}"}},
        {"{helpers}/corvidale-codesign", {"--verify", "--deep", "--strict", "{app}"}},
        {"{helpers}/corvidale-codesign", {"-dv", "--verbose=2", "{app}"}, 60},
        {"{app}/Contents/MacOS/corvidale", {"--version"}, 10},
        {"/usr/bin/cp", {"-a", "-T", "--", "{app}", "{staging}"}},
        {"{helpers}/corvidale-image", {"detach", "{mount}"}},
    };
    return system == TargetSystem::Mac ? mac : linux;
}

ToolCommand commandFor(const ToolRow& row, const ToolPaths& paths) {
    const std::pair<std::string_view, const std::string*> marks[] = {
        {"{image}", &paths.image}, {"{mount}", &paths.mount}, {"{app}", &paths.app}, {"{staging}", &paths.staging}};
    const auto expand = [](std::string text, std::string_view mark, const std::string& path) {
        return text.starts_with(mark) ? path + text.substr(mark.size()) : text;
    };
    ToolCommand command{expand(row.executable, "{helpers}", paths.helpers), {}, row.seconds};
    for (const auto& [mark, path] : marks) command.executable = expand(std::move(command.executable), mark, *path);
    for (std::string argument : row.arguments) {
        for (const auto& [mark, path] : marks) argument = expand(std::move(argument), mark, *path);
        command.arguments.push_back(std::move(argument));
    }
    return command;
}

bool namesTeam(std::string_view detailsOutput, const ToolTable& table, std::string_view team) {
    if (team.empty()) return false;
    // A line that only contains the text, or a second line naming a team,
    // may have been written by the bundle through a name it controls.
    int teamLines = 0;
    bool pinned = false;
    while (!detailsOutput.empty()) {
        const std::size_t end = detailsOutput.find('\n');
        const std::string_view line = detailsOutput.substr(0, end);
        if (line.starts_with(table.teamLinePrefix)) {
            ++teamLines;
            pinned = line.substr(table.teamLinePrefix.size()) == team;
        }
        detailsOutput = end == std::string_view::npos ? std::string_view() : detailsOutput.substr(end + 1);
    }
    return teamLines == 1 && pinned;
}

}  // namespace corvidale::Updater
