#pragma once

#include <cstring>
#include <string>

namespace corvidale::platform {

// A failure as the platform tells it.
struct Error {
    std::string localizedDescription;
    // Domain, code and details, as the platform prints an error object.
    std::string fullDescription;
};

// An errno value as the platform tells it, about the item at `path` when
// there is one.
inline Error posixError(int code, const std::string& path = {}) {
    const std::string text = std::strerror(code);
    std::string full = "Error Domain=NSPOSIXErrorDomain Code=" + std::to_string(code) + " \"" + text + "\"";
    if (path.empty()) return {text, full};
    return {text + ": " + path, full + " UserInfo={NSFilePath=" + path + "}"};
}

}  // namespace corvidale::platform
