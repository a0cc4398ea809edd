// Loaded with LD_PRELOAD into the installation driver: fails one chosen call
// of the file-system functions the installation makes, and logs them all.
//   CORVIDALE_FAULT=<family>:<n>:<errno>  the n-th call of the family fails
//   CORVIDALE_FAULT_LOG=<file>            one line per call: family, then paths
// Families: open (open, openat and their 64 forms), write, rename (rename,
// renameat), renameat2, mkdir (mkdir, mkdirat), fsync (fsync, fdatasync,
// syncfs). Nothing is counted before the driver calls corvidale_fault_arm(),
// once it has read what the app reads at launch. The tools the driver starts
// run without the shim.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace {

const char* const kFamilies[] = {"open", "write", "rename", "renameat2", "mkdir", "fsync"};
enum Family { Open, Write, Rename, Renameat2, Mkdir, Fsync, kFamilyCount };

std::atomic<bool> armed{false};
std::atomic<long> counts[kFamilyCount];
int failFamily = -1;
long failAt = 0;
int failErrno = 0;
int logFd = -1;

__attribute__((constructor)) void setUp() {
    if (const char* fault = getenv("CORVIDALE_FAULT")) {
        char name[32] = {};
        if (sscanf(fault, "%31[^:]:%ld:%d", name, &failAt, &failErrno) == 3) {
            for (int family = 0; family < kFamilyCount; ++family) {
                if (strcmp(name, kFamilies[family]) == 0) failFamily = family;
            }
        }
    }
    if (const char* log = getenv("CORVIDALE_FAULT_LOG")) {
        logFd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    }
    unsetenv("LD_PRELOAD");
    unsetenv("CORVIDALE_FAULT");
    unsetenv("CORVIDALE_FAULT_LOG");
}

std::string pathOf(int dirFd, const char* path) {
    if (path != nullptr && path[0] == '/') return path;
    char target[4096];
    const std::string link = dirFd == AT_FDCWD ? "/proc/self/cwd" : "/proc/self/fd/" + std::to_string(dirFd);
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    const std::string base = length > 0 ? std::string(target, static_cast<size_t>(length)) : "?";
    return path == nullptr ? base : base + "/" + path;
}

// Counts the call and logs it; answers whether it is the one to fail.
bool failsNow(Family family, const std::string& what) {
    if (!armed) return false;
    const long n = ++counts[family];
    if (logFd >= 0) {
        const std::string line = std::string(kFamilies[family]) + " " + what + "\n";
        syscall(SYS_write, logFd, line.data(), line.size());
    }
    if (family != failFamily || n != failAt) return false;
    errno = failErrno;
    return true;
}

template <class Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

void corvidale_fault_arm() { armed = true; }

#define OPEN_AT(name)                                                                          \
    int name(int dirFd, const char* path, int flags, ...) {                                    \
        va_list arguments;                                                                     \
        va_start(arguments, flags);                                                            \
        const mode_t mode = modeArgument(flags, arguments);                                    \
        va_end(arguments);                                                                     \
        if (failsNow(Open, pathOf(dirFd, path))) return -1;                                    \
        return real<int (*)(int, const char*, int, ...)>(#name)(dirFd, path, flags, mode);     \
    }
#define OPEN(name)                                                                             \
    int name(const char* path, int flags, ...) {                                               \
        va_list arguments;                                                                     \
        va_start(arguments, flags);                                                            \
        const mode_t mode = modeArgument(flags, arguments);                                    \
        va_end(arguments);                                                                     \
        if (failsNow(Open, pathOf(AT_FDCWD, path))) return -1;                                 \
        return real<int (*)(const char*, int, ...)>(#name)(path, flags, mode);                 \
    }
OPEN(open)
OPEN(open64)
OPEN_AT(openat)
OPEN_AT(openat64)

ssize_t write(int fd, const void* data, size_t size) {
    if (failsNow(Write, pathOf(fd, nullptr))) return -1;
    return real<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

int rename(const char* from, const char* to) {
    if (failsNow(Rename, pathOf(AT_FDCWD, from) + " " + pathOf(AT_FDCWD, to))) return -1;
    return real<int (*)(const char*, const char*)>("rename")(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (failsNow(Rename, pathOf(fromDir, from) + " " + pathOf(toDir, to))) return -1;
    return real<int (*)(int, const char*, int, const char*)>("renameat")(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    if (failsNow(Renameat2, pathOf(fromDir, from) + " " + pathOf(toDir, to))) return -1;
    return real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2")(fromDir, from, toDir, to, flags);
}

int mkdir(const char* path, mode_t mode) {
    if (failsNow(Mkdir, pathOf(AT_FDCWD, path))) return -1;
    return real<int (*)(const char*, mode_t)>("mkdir")(path, mode);
}

int mkdirat(int dirFd, const char* path, mode_t mode) {
    if (failsNow(Mkdir, pathOf(dirFd, path))) return -1;
    return real<int (*)(int, const char*, mode_t)>("mkdirat")(dirFd, path, mode);
}

#define SYNC(name)                                                \
    int name(int fd) {                                            \
        if (failsNow(Fsync, pathOf(fd, nullptr))) return -1;      \
        return real<int (*)(int)>(#name)(fd);                     \
    }
SYNC(fsync)
SYNC(fdatasync)
SYNC(syncfs)

}  // extern "C"
