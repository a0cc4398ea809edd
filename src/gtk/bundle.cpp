#include "bundle.h"

#include <fcntl.h>
#include <glib.h>
#include <plist/plist.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "core/util/plist_bounds.h"
#include "core/util/posix.h"

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

// A number, boolean or date, rendered as the desktop platform prints it.
PlistValue scalar(plist_t node, plist_type type) {
    PlistValue value;
    value.kind = PlistValue::Kind::Number;
    uint64_t number = 0;
    if (type == PLIST_BOOLEAN) {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        value.kind = PlistValue::Kind::Boolean;
        value.text = flag ? "1" : "0";
    } else if (type == PLIST_UINT) {
        plist_get_uint_val(node, &number);
        // Negative integers are stored in two's complement.
        value.text = std::to_string(static_cast<int64_t>(number));
    } else if (type == PLIST_UID) {
        plist_get_uid_val(node, &number);
        value.text = std::to_string(number);
    } else if (type == PLIST_REAL) {
        double real = 0;
        plist_get_real_val(node, &real);
        char text[G_ASCII_DTOSTR_BUF_SIZE];
        value.text = g_ascii_dtostr(text, sizeof text, real);
    } else {
        value.kind = PlistValue::Kind::Date;
        value.text = renderDate(node);
    }
    return value;
}

PlistValue convert(plist_t node) {
    const plist_type type = plist_get_node_type(node);
    PlistValue value;
    switch (type) {
    case PLIST_STRING: {
        // By length: a binary plist's string may hold a NUL byte, on which
        // plist_get_string_val() aborts the process.
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        value.kind = PlistValue::Kind::String;
        if (text != nullptr) value.text.assign(text, length);
        return value;
    }
    case PLIST_BOOLEAN:
    case PLIST_UINT:
    case PLIST_UID:
    case PLIST_REAL:
    case PLIST_DATE:
        return scalar(node, type);
    case PLIST_ARRAY:
        value.kind = PlistValue::Kind::Array;
        return value;
    case PLIST_DICT:
        value.kind = PlistValue::Kind::Dictionary;
        return value;
    default:
        // Data; or a key or "none" node where a value belongs: kept out of
        // the way of string lookups.
        value.kind = PlistValue::Kind::Data;
        return value;
    }
}

// The bytes of the regular file at `path`, when it is one of at most
// kMaxPlistBytes; nullopt when there is none such. A bundle from a download
// may name anything there: a link, as the file or as its folder, is not
// followed, and a device or a pipe is neither read nor waited for. Any other
// failure is thrown as the PosixError it is.
std::optional<std::string> readInfoPlistFile(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    try {
        const Fd folderFd = openDirectory(AT_FDCWD, folder);
        return readSmallFile(folderFd.get(), path.substr(slash == std::string::npos ? 0 : slash + 1), kMaxPlistBytes);
    } catch (const PosixError& error) {
        for (const int absent : {ENOENT, ENOTDIR, ELOOP, EISDIR, EINVAL, EFBIG}) {
            if (error.errorNumber() == absent) return std::nullopt;
        }
        throw;
    }
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

std::variant<InfoPlist, int> InfoPlist::fromFile(const std::string& path) {
    try {
        const auto bytes = readInfoPlistFile(path);
        return bytes ? fromBytes(*bytes) : InfoPlist();
    } catch (const PosixError& error) {
        return error.errorNumber();
    }
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

GtkBundle::GtkBundle(std::string bundlePath) : path_(std::move(bundlePath)) {
    if (path_.empty()) return;
    // The running app's own: unreadable is as good as empty.
    auto read = InfoPlist::fromFile(infoPlistPath(path_));
    if (auto* info = std::get_if<InfoPlist>(&read)) info_ = std::move(*info);
}

GtkBundle::GtkBundle(std::string bundlePath, InfoPlist info) : path_(std::move(bundlePath)), info_(std::move(info)) {}

std::string infoPlistPath(const std::string& bundlePath) { return bundlePath + "/Contents/Info.plist"; }

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
