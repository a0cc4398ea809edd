#include "xvfb.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include "util.h"

namespace corvidale::e2e {
namespace {

bool acceptsConnections(const std::string& display) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) return false;
    XCloseDisplay(connection);
    return true;
}

std::string findTool(const char* name) {
    for (const char* folder : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string candidate = std::string(folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    throw std::runtime_error(std::string(name) + " is not installed (scripts/deps.sh installs it)");
}

}  // namespace

Xvfb::Xvfb(const std::string& logPath) {
    // -displayfd lets the server pick the first free display number itself and
    // tell us once it listens, so parallel test processes never race for one.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    SpawnOptions options;
    options.argv = {findTool("Xvfb"), "-displayfd", std::to_string(pipeFds[1]), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp", "-noreset"};
    options.environment = currentEnvironment();
    options.environment.erase("DISPLAY");
    options.stdoutPath = logPath;
    options.stderrPath = logPath;
    options.inheritedDescriptors = {pipeFds[1]};
    try {
        server_ = std::make_unique<Child>(options);
    } catch (...) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw;
    }
    ::close(pipeFds[1]);

    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd entry{pipeFds[0], POLLIN, 0};
        if (::poll(&entry, 1, 100) > 0) {
            char buffer[32];
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got <= 0) break;  // the server went away
            number.append(buffer, static_cast<size_t>(got));
            if (number.find('\n') != std::string::npos) break;
        }
        if (server_->poll()) break;
    }
    ::close(pipeFds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    if (number.empty()) {
        server_.reset();
        throw std::runtime_error("Xvfb did not start (see " + logPath + ")");
    }
    display_ = ":" + number;
    if (!waitUntil([this] { return acceptsConnections(display_); }, 20s)) {
        server_.reset();
        throw std::runtime_error("Xvfb on " + display_ + " does not accept connections");
    }
}

Xvfb::~Xvfb() {
    if (server_) {
        server_->signalGroup(SIGTERM);
        if (!server_->waitFor(5s)) server_->terminate();
    }
}

}  // namespace corvidale::e2e
