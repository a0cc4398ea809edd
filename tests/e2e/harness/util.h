#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace corvidale::e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// Polls `condition` until it holds or `timeout` passes; answers whether it held.
// Every wait in the tests goes through here: the conditions are observable, so
// nothing sleeps for a fixed time and hopes.
bool waitUntil(const std::function<bool()>& condition, Millis timeout, Millis interval = 25ms);

// A directory under /tmp that is removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void makeDirectories(const std::string& path, unsigned mode = 0755);
bool fileExists(const std::string& path);

// Percent-encodes everything but unreserved characters.
std::string urlEncode(const std::string& text);

}  // namespace corvidale::e2e
