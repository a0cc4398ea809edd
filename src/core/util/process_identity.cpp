#include "core/util/process_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <sstream>
#include <string>

#if defined(__APPLE__)
#include <libproc.h>
#else
#include "core/util/posix.h"
#endif

namespace corvidale {

#if defined(__APPLE__)

std::optional<ProcessIdentity> identifyProcess(int pid) {
    if (pid <= 0) return std::nullopt;
    struct proc_bsdinfo info {};
    if (::proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, sizeof info) != static_cast<int>(sizeof info) ||
        info.pbi_uid != ::geteuid() || info.pbi_status == SZOMB) {
        return std::nullopt;
    }
    char path[PROC_PIDPATHINFO_MAXSIZE];
    if (::proc_pidpath(pid, path, sizeof path) <= 0) return std::nullopt;
    return ProcessIdentity{pid, info.pbi_start_tvsec * 1000000ULL + info.pbi_start_tvusec, path};
}

#else

std::optional<ProcessIdentity> identifyProcess(int pid) {
    if (pid <= 0) return std::nullopt;
    const std::string folder = "/proc/" + std::to_string(pid);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || info.st_uid != ::geteuid()) return std::nullopt;
    std::string stat;
    try {
        stat = readSmallFile(AT_FDCWD, folder + "/stat", 4096);
    } catch (const PosixError&) {
        return std::nullopt;
    }
    // The name in parentheses may hold anything; the fields follow its last ')'.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string state, skipped;
    std::uint64_t started = 0;
    fields >> state;  // the third field
    for (int field = 4; field < 22; ++field) fields >> skipped;
    fields >> started;
    char path[PATH_MAX];
    const ssize_t length = ::readlink((folder + "/exe").c_str(), path, sizeof path);
    if (!fields || state == "Z" || state == "X" || length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
        return std::nullopt;
    }
    return ProcessIdentity{pid, started, std::string(path, static_cast<std::size_t>(length))};
}

#endif

}  // namespace corvidale
