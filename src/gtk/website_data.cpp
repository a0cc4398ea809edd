#include "website_data.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/util/line_output.h"
#include "core/util/posix.h"
#include "set_aside.h"

namespace corvidale::gtk {
namespace {

// Builds before the program was named after its application id kept the
// engine's data and cache here.
constexpr const char* kOldFolderName = "corvidale";
constexpr char kSqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

void report(const std::string& line) { writeLine(stderr, STDERR_FILENO, line); }

std::string joined(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool isFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool occupied(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

void setAsideReporting(const std::string& path, const std::string& what) {
    if (const auto aside = setAside(path)) {
        report("corvidale: " + path + " was " + what + "; moved it aside to " + *aside + " and started afresh");
    } else {
        report("corvidale: " + path + " is " + what + " and could not be moved aside: " + std::strerror(errno));
    }
}

// Deeper than the engine nests its folders; a tree deeper than this is not its.
constexpr int kMaxDepth = 32;
// Set when a folder could not be made the user's alone: then nothing of the
// run is written to disk.
bool keepInMemory = false;

void reportNotOwn(const std::string& path, uid_t owner) {
    report("corvidale: " + path + " belongs to another user (uid " + std::to_string(owner) +
           "), who could read what Corvidale keeps there");
}

void reportChmod(const std::string& path, int error) {
    report("corvidale: could not make " + path + " private: " + std::strerror(error));
}

// Everything in the open folder `dir` for the user only, links never
// followed: a mode is the target's, and the target may be anywhere. Answers
// false when something in it is another user's, who may read or swap it.
bool tightenEntries(int dir, const std::string& path, int depth) {
    std::vector<std::string> names;
    try {
        names = listDirectory(dir, path);
    } catch (const PosixError& error) {
        reportChmod(path, error.errorNumber());
        return true;  // the folder itself is closed to others already
    }
    bool own = true;
    for (const auto& name : names) {
        const std::string entry = joined(path, name);
        struct stat info;
        if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(info.st_mode)) continue;
        if (info.st_uid != ::geteuid()) {
            reportNotOwn(entry, info.st_uid);
            own = false;
            continue;
        }
        const mode_t wanted = S_ISDIR(info.st_mode) ? S_IRWXU : (info.st_mode & S_IRWXU);
        if ((info.st_mode & 07777) != wanted && ::fchmodat(dir, name.c_str(), wanted, AT_SYMLINK_NOFOLLOW) != 0) {
            reportChmod(entry, errno);
        }
        if (!S_ISDIR(info.st_mode) || depth >= kMaxDepth) continue;
        const Fd inner(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inner) own = tightenEntries(inner.get(), entry, depth + 1) && own;
    }
    return own;
}

// Whether `folder` is the user's alone, made so where it can be. Files the
// engine makes later inherit nothing from this, but sit in a folder nobody
// else can enter.
bool makePrivate(const std::string& folder) {
    struct stat link;
    const bool linked = ::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    // A folder the user keeps elsewhere and linked here is used where it is.
    const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info;
    if (!dir || ::fstat(dir.get(), &info) != 0) {
        report("corvidale: cannot open " + folder + ": " + std::strerror(errno));
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        reportNotOwn(folder, info.st_uid);
        return false;
    }
    if (linked) {
        // Nothing is changed through a link: where it leads is the user's to set.
        if ((info.st_mode & 077) == 0) return true;
        report("corvidale: " + folder + " leads to a folder that others can open; make it the user's alone (chmod 700)");
        return false;
    }
    if ((info.st_mode & 07777) != S_IRWXU && ::fchmod(dir.get(), S_IRWXU) != 0) {
        reportChmod(folder, errno);
        return false;
    }
    return tightenEntries(dir.get(), folder, 0);
}

bool prepareFolder(const std::string& base, const std::string& name) {
    const std::string folder = joined(base, name);
    if (occupied(folder) && !isFolder(folder)) setAsideReporting(folder, "not a folder");
    const std::string old = joined(base, kOldFolderName);
    if (name != kOldFolderName && isFolder(old) && !occupied(folder)) {
        // Moves the cookies along, so that nobody is signed out by the update.
        ::renameat2(AT_FDCWD, old.c_str(), AT_FDCWD, folder.c_str(), RENAME_NOREPLACE);
    }
    // The XDG base folders are the user's own too when they have to be made.
    g_mkdir_with_parents(base.c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    return makePrivate(folder);
}

// The engine's data manager takes its storage quotas only when it is made,
// and the default session makes its own, offering no way to pass them. The
// manager's constructor is wrapped for that one moment to fill them in.
GObject* (*engineConstructor)(GType, guint, GObjectConstructParam*) = nullptr;

GObject* constructWithQuotas(GType type, guint count, GObjectConstructParam* parameters) {
    for (guint i = 0; i < count; ++i) {
        const char* name = g_param_spec_get_name(parameters[i].pspec);
        if (g_strcmp0(name, "origin-storage-ratio") == 0) g_value_set_double(parameters[i].value, kOriginStorageRatio);
        if (g_strcmp0(name, "total-storage-ratio") == 0) g_value_set_double(parameters[i].value, kTotalStorageRatio);
    }
    return engineConstructor(type, count, parameters);
}

// The default session, or a new one that keeps nothing on disk.
WebKitNetworkSession* sessionWithQuotas(bool inMemory) {
    g_autoptr(GTypeClass) type = static_cast<GTypeClass*>(g_type_class_ref(WEBKIT_TYPE_WEBSITE_DATA_MANAGER));
    auto* managerClass = reinterpret_cast<GObjectClass*>(type);
    engineConstructor = managerClass->constructor;
    managerClass->constructor = constructWithQuotas;
    WebKitNetworkSession* session =
        inMemory ? webkit_network_session_new_ephemeral() : webkit_network_session_get_default();
    webkit_network_session_get_website_data_manager(session);
    managerClass->constructor = engineConstructor;
    return session;
}

}  // namespace

void prepareWebsiteFolders(const std::string& name) {
    bool own = true;
    for (const char* base : {g_get_user_data_dir(), g_get_user_cache_dir()}) own = prepareFolder(base, name) && own;
    if (own) return;
    keepInMemory = true;
    report("corvidale: this run keeps cookies, site data and cache in memory only; remove the folders named above, "
           "or make them the user's alone, for them to be kept again");
}

bool setAsideUnusableCookieStore(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return false;  // none yet: the engine starts one
    bool usable = false;
    if (S_ISREG(info.st_mode)) {
        // An empty file is an empty database; anything else starts with the header.
        usable = info.st_size == 0;
        const Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        char header[sizeof kSqliteHeader] = {};
        usable = usable || (fd && ::read(fd.get(), header, sizeof header) == sizeof header &&
                            std::memcmp(header, kSqliteHeader, sizeof header) == 0);
    }
    if (usable) return false;
    // The engine would keep cookies in memory only, and everybody would be
    // signed out at every start, with nothing to say why.
    setAsideReporting(path, S_ISREG(info.st_mode) ? "not a cookie database" : "not a file");
    return true;
}

WebKitNetworkSession* persistentNetworkSession() {
    static WebKitNetworkSession* session = nullptr;
    if (session != nullptr) return session;
    session = sessionWithQuotas(keepInMemory);
    if (keepInMemory) return session;
    // WebKitGTK keeps even the default session's cookies in memory unless
    // told where to store them; the desktop platform's default store keeps
    // them, and without them every user is signed out at each launch.
    WebKitWebsiteDataManager* data = webkit_network_session_get_website_data_manager(session);
    const char* folder = data != nullptr ? webkit_website_data_manager_get_base_data_directory(data) : nullptr;
    if (folder != nullptr) {
        const std::string file = joined(folder, "cookies.sqlite");
        setAsideUnusableCookieStore(file);
        webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session), file.c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    }
    return session;
}

}  // namespace corvidale::gtk
