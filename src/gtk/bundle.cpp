#include "bundle.h"

#include <fcntl.h>
#include <glib.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "core/util/plist_bounds.h"

namespace corvidale::gtk {
namespace {

using platform::PlistValue;

// libplist 2.2 counts dates from the reference date of the desktop platform.
constexpr std::int64_t kPlistEpochOffset = 978307200;  // 2001-01-01T00:00:00Z in Unix time

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

std::string renderDate(plist_t node) {
    int32_t seconds = 0;
    int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    const std::time_t unix = static_cast<std::time_t>(seconds + kPlistEpochOffset);
    std::tm parts{};
    if (gmtime_r(&unix, &parts) == nullptr) return {};
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) return {};
    return text;
}

PlistValue convert(plist_t node) {
    PlistValue value;
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        // By length: a binary plist's string may hold a NUL byte, on which
        // plist_get_string_val() aborts the process.
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        value.kind = PlistValue::Kind::String;
        if (text != nullptr) value.text.assign(text, length);
        break;
    }
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        value.kind = PlistValue::Kind::Boolean;
        value.text = flag ? "1" : "0";
        break;
    }
    case PLIST_UINT: {
        uint64_t number = 0;
        plist_get_uint_val(node, &number);
        value.kind = PlistValue::Kind::Number;
        // Negative integers are stored in two's complement.
        value.text = std::to_string(static_cast<int64_t>(number));
        break;
    }
    case PLIST_UID: {
        uint64_t number = 0;
        plist_get_uid_val(node, &number);
        value.kind = PlistValue::Kind::Number;
        value.text = std::to_string(number);
        break;
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(node, &number);
        char text[G_ASCII_DTOSTR_BUF_SIZE];
        value.kind = PlistValue::Kind::Number;
        value.text = g_ascii_dtostr(text, sizeof text, number);
        break;
    }
    case PLIST_DATE:
        value.kind = PlistValue::Kind::Date;
        value.text = renderDate(node);
        break;
    case PLIST_DATA:
        value.kind = PlistValue::Kind::Data;
        break;
    case PLIST_ARRAY:
        value.kind = PlistValue::Kind::Array;
        break;
    case PLIST_DICT:
        value.kind = PlistValue::Kind::Dictionary;
        break;
    default:
        // A key or "none" node where a value belongs: keep it out of the way
        // of string lookups.
        value.kind = PlistValue::Kind::Data;
        break;
    }
    return value;
}

// The bytes of the regular file at `path`, when it is one of at most
// kMaxPlistBytes. A bundle from a download may name anything there: a link,
// as the file or as its folder, is not followed, and a device or a pipe is
// neither read nor waited for.
std::optional<std::string> readInfoPlistFile(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int folder = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int fd = folder < 0 ? -1
                              : ::openat(folder, path.c_str() + (slash == std::string::npos ? 0 : slash + 1),
                                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (folder >= 0) ::close(folder);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    struct stat info {};
    bool whole = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= off_t(kMaxPlistBytes);
    char buffer[16384];
    while (whole) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            whole = got == 0;
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        whole = bytes.size() <= kMaxPlistBytes;  // it may grow while read
    }
    ::close(fd);
    if (!whole) return std::nullopt;
    return bytes;
}

}  // namespace

InfoPlist InfoPlist::fromBytes(std::string_view bytes) {
    InfoPlist info;
    // The parser recurses into nested values: a deep or self-multiplying
    // list from a download must never reach it.
    if (bytes.empty() || !plistWithinBounds(bytes)) return info;
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    std::shared_ptr<void> root(raw, PlistDeleter());
    if (!root || plist_get_node_type(raw) != PLIST_DICT) return info;
    info.root_ = std::move(root);
    return info;
}

InfoPlist InfoPlist::fromFile(const std::string& path) {
    const auto bytes = readInfoPlistFile(path);
    return bytes ? fromBytes(*bytes) : InfoPlist();
}

std::optional<PlistValue> InfoPlist::value(std::string_view key) const {
    if (!root_ || key.find('\0') != std::string_view::npos) return std::nullopt;
    const plist_t item = plist_dict_get_item(root_.get(), std::string(key).c_str());
    if (item == nullptr) return std::nullopt;
    return convert(item);
}

bool InfoPlist::empty() const { return !root_ || plist_dict_get_size(root_.get()) == 0; }

std::string runningBundlePath() {
    char resolved[PATH_MAX];
    if (::realpath("/proc/self/exe", resolved) == nullptr) return {};
    // <bundle>/Contents/MacOS/corvidale: three levels up from the file.
    std::string path = resolved;
    for (int level = 0; level < 3; ++level) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) return {};
        path.erase(slash == 0 ? 1 : slash);
    }
    return path;
}

GtkBundle::GtkBundle() : GtkBundle(runningBundlePath()) {}

GtkBundle::GtkBundle(std::string bundlePath)
    : path_(std::move(bundlePath)),
      info_(path_.empty() ? InfoPlist() : InfoPlist::fromFile(path_ + "/Contents/Info.plist")) {}

std::optional<PlistValue> GtkBundle::infoValue(std::string_view key) const { return info_.value(key); }

std::optional<std::string> GtkBundle::infoString(std::string_view key) const {
    auto value = info_.value(key);
    if (!value || value->kind != PlistValue::Kind::String) return std::nullopt;
    return value->text;
}

std::optional<std::string> GtkBundle::bundleIdentifier() const {
    auto identifier = infoString("CFBundleIdentifier");
    if (!identifier || identifier->empty()) return std::nullopt;
    return identifier;
}

std::optional<std::string> ProcessEnvironment::get(std::string_view name) const {
    const std::string key(name);
    if (key.empty() || key.find('=') != std::string::npos) return std::nullopt;
    const char* value = std::getenv(key.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace corvidale::gtk
