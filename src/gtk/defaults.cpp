#include "defaults.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/platform/bundle.h"
#include "core/util/posix.h"
#include "set_aside.h"

namespace corvidale::gtk {
namespace {

constexpr const char* kGroup = "Defaults";

std::string lowered(std::string_view text) {
    std::string result(text);
    for (auto& c : result) c = static_cast<char>(g_ascii_tolower(c));
    return result;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

bool usableFolderName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// GLib quotes the offending line of a broken file in its message; printed
// as is, escape sequences in the file would drive the user's terminal.
std::string printable(std::string_view text) {
    std::string result;
    const char* cursor = text.data();
    const char* end = text.data() + text.size();
    while (cursor < end) {
        const char* invalid = nullptr;
        g_utf8_validate(cursor, end - cursor, &invalid);
        for (; cursor < invalid; ++cursor) {
            const auto byte = static_cast<unsigned char>(*cursor);
            if (byte < 0x20 || byte == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
                result += escaped;
            } else {
                result += *cursor;
            }
        }
        if (cursor < end) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(*cursor++));
            result += escaped;
        }
    }
    return result;
}

// Larger than any preferences file the shell writes, by far.
constexpr std::size_t kLargestPreferencesFile = 16 << 20;

// Reads the file only when it is a regular one. It is opened without
// waiting: a pipe or a device in its place would otherwise hold the start
// forever.
KeyFileDefaults::LoadOutcome readPreferencesFile(const std::string& path, std::string& contents, std::string* problem) {
    try {
        contents = readSmallFile(AT_FDCWD, path, kLargestPreferencesFile, true);
        return KeyFileDefaults::LoadOutcome::Loaded;
    } catch (const PosixError& error) {
        if (error.errorNumber() == ENOENT) return KeyFileDefaults::LoadOutcome::Missing;
        if (problem) {
            *problem = error.errorNumber() == EISDIR   ? "it is a folder"
                       : error.errorNumber() == EINVAL ? "it is not a regular file"
                       : error.errorNumber() == EFBIG  ? "it is too large"
                                                       : std::strerror(error.errorNumber());
        }
        return KeyFileDefaults::LoadOutcome::Unreadable;
    }
}

}  // namespace

std::string defaultsPathFor(std::string_view bundleIdentifier) {
    const std::string folder =
        usableFolderName(bundleIdentifier) ? std::string(bundleIdentifier) : std::string(platform::kShellBundleIdentifier);
    g_autofree gchar* path = g_build_filename(g_get_user_config_dir(), folder.c_str(), "defaults.ini", nullptr);
    return path;
}

bool defaultsBooleanValue(std::string_view text) {
    const std::string value = lowered(trimmed(text));
    if (value == "yes" || value == "true") return true;
    if (value.empty()) return false;
    char* end = nullptr;
    const double number = g_ascii_strtod(value.c_str(), &end);
    if (end == value.c_str() || *end != '\0') return false;
    return !std::isnan(number) && number != 0.0;
}

bool isStorableKey(std::string_view key) {
    if (key.empty() || key.front() == ' ' || key.back() == ' ') return false;
    if (!g_utf8_validate(key.data(), static_cast<gssize>(key.size()), nullptr)) return false;
    // '[' and ']' would make a locale-specific key; '=' ends the key; a line
    // break ends the entry.
    return key.find_first_of("=[]\n\r") == std::string_view::npos && key.find('\0') == std::string_view::npos;
}

KeyFileDefaults::KeyFileDefaults(std::string path, std::map<std::string, std::string> argumentDomain,
                                 Reporter report)
    : path_(std::move(path)),
      argumentDomain_(argumentDomain.begin(), argumentDomain.end()),
      report_(std::move(report)),
      file_(g_key_file_new()) {
    std::string problem;
    if (load(file_.get(), &problem) == LoadOutcome::Unreadable) {
        reportOnce(unreadableMessage(problem));
    }
}

KeyFileDefaults::LoadOutcome KeyFileDefaults::load(GKeyFile* into, std::string* problem) const {
    std::string contents;
    switch (readPreferencesFile(path_, contents, problem)) {
    case LoadOutcome::Missing:
        return LoadOutcome::Missing;
    case LoadOutcome::Unreadable:
        return LoadOutcome::Unreadable;
    case LoadOutcome::Loaded:
        break;
    }
    g_autoptr(GError) error = nullptr;
    if (g_key_file_load_from_data(into, contents.data(), contents.size(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
        return LoadOutcome::Loaded;
    }
    if (problem) *problem = error->message;
    return LoadOutcome::Unreadable;
}

std::string KeyFileDefaults::unreadableMessage(const std::string& problem) const {
    return "corvidale: ignoring the unreadable preferences file " + path_ + " (" + printable(problem) +
           "); it will be moved aside to " + path_ + ".corrupt when a preference is next saved";
}

void KeyFileDefaults::reportOnce(const std::string& line) {
    if (reported_) return;
    reported_ = true;
    if (report_) report_(line);
}

std::optional<std::string> KeyFileDefaults::string(std::string_view key) const {
    if (const auto argument = argumentDomain_.find(key); argument != argumentDomain_.end()) return argument->second;
    if (!isStorableKey(key)) return std::nullopt;
    const std::string name(key);
    g_autofree gchar* value = g_key_file_get_string(file_.get(), kGroup, name.c_str(), nullptr);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool KeyFileDefaults::boolean(std::string_view key) const {
    const auto value = string(key);
    return value && defaultsBooleanValue(*value);
}

void KeyFileDefaults::setString(std::string_view key, std::string_view value) { write(key, std::string(value)); }

void KeyFileDefaults::setBoolean(std::string_view key, bool value) { write(key, value ? "true" : "false"); }

bool KeyFileDefaults::moveAside() {
    if (setAside(path_) || errno == ENOENT) return true;  // gone meanwhile: nothing to keep
    if (report_) report_("corvidale: could not move the unreadable preferences file " + path_ + " aside: " +
                         std::strerror(errno));
    return false;
}

void KeyFileDefaults::write(std::string_view key, const std::string& value) {
    if (!isStorableKey(key) || !g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr) ||
        value.find('\0') != std::string::npos) {
        if (report_) report_("corvidale: not saving the preference \"" + std::string(key) + "\": it cannot be stored");
        return;
    }

    // Start from what is on disk now, so that values another running
    // instance saved meanwhile are kept.
    GLibPtr<GKeyFile, g_key_file_free> fresh(g_key_file_new());
    std::string problem;
    switch (load(fresh.get(), &problem)) {
    case LoadOutcome::Loaded:
        break;
    case LoadOutcome::Missing:
        fresh.reset(g_key_file_new());
        break;
    case LoadOutcome::Unreadable:
        reportOnce(unreadableMessage(problem));
        if (!moveAside()) {
            // Writing now would destroy the only copy; keep the value for this run.
            const std::string name(key);
            g_key_file_set_string(file_.get(), kGroup, name.c_str(), value.c_str());
            return;
        }
        fresh.reset(g_key_file_new());
        break;
    }

    const std::string name(key);
    g_key_file_set_string(fresh.get(), kGroup, name.c_str(), value.c_str());
    file_ = std::move(fresh);

    g_autofree gchar* folder = g_path_get_dirname(path_.c_str());
    g_mkdir_with_parents(folder, 0700);

    gsize length = 0;
    g_autofree gchar* data = g_key_file_to_data(file_.get(), &length, nullptr);
    g_autoptr(GError) error = nullptr;
    // g_file_set_contents writes a temporary file and renames it over the old
    // one: a crash mid-write leaves the previous preferences intact.
    if (!g_file_set_contents(path_.c_str(), data, static_cast<gssize>(length), &error) && report_) {
        report_("corvidale: could not save preferences to " + path_ + ": " + error->message);
    }
}

}  // namespace corvidale::gtk
