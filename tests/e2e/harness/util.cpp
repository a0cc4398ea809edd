#include "util.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace corvidale::e2e {

bool waitUntil(const std::function<bool()>& condition, Millis timeout, Millis interval) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(interval);
    }
}

TempDir::TempDir(const std::string& tag) {
    std::string pattern = "/tmp/corvidale-e2e-" + tag + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error) {
        // Something was still creating files in it; once more after that.
        std::this_thread::sleep_for(200ms);
        std::filesystem::remove_all(path_, error);
    }
}

void makeDirectories(const std::string& path, unsigned mode) {
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode));
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string urlEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace corvidale::e2e
