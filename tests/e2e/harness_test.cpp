// The test network itself: the app and the engine's network process see the
// test CA and the test hosts, and the machine's own files are untouched.
#include <dirent.h>

#include <sstream>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parent = 0;
    std::string name;
};

std::vector<ProcessEntry> allProcesses() {
    std::vector<ProcessEntry> processes;
    DIR* proc = ::opendir("/proc");
    if (!proc) return processes;
    while (dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        // /proc/<pid>/stat: "pid (comm) state ppid ..."; comm may hold spaces.
        const std::string stat = readFile("/proc/" + name + "/stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        ProcessEntry process;
        process.pid = std::stoi(name);
        process.name = stat.substr(open + 1, close - open - 1);
        rest >> state >> process.parent;
        processes.push_back(process);
    }
    ::closedir(proc);
    return processes;
}

// A process whose name starts with `prefix` among the descendants of `root`.
std::optional<pid_t> descendantNamed(pid_t root, const std::string& prefix) {
    const auto processes = allProcesses();
    std::vector<pid_t> family = {root};
    for (size_t i = 0; i < family.size(); ++i) {
        for (const auto& process : processes) {
            if (process.parent != family[i]) continue;
            if (process.name.rfind(prefix, 0) == 0) return process.pid;
            family.push_back(process.pid);
        }
    }
    return std::nullopt;
}

std::string mountNamespace(const std::string& pid) {
    char target[128] = {};
    const auto length = ::readlink(("/proc/" + pid + "/ns/mnt").c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

class HarnessTest : public E2eTest {};

TEST_F(HarnessTest, TestCaAndHostsReachTheEngineNetworkProcessButNotTheMachine) {
    const std::string hostsBefore = readFile(kSystemHosts);
    const std::string bundleBefore = readFile(kSystemCaBundle);
    const auto& tls = world().tls();
    const std::string testCa = readFile(tls.caCertificate);
    ASSERT_FALSE(testCa.empty());

    server().page("/start", "<!doctype html><title>start</title><p>start</p>");
    auto app = launchAt("/start");
    // The load arriving at all means the engine resolved the test host and
    // trusted the test CA.
    ASSERT_TRUE(server().waitForRequestTo("/start", kStartTimeout)) << server().describeTraffic() << app->describe();

    std::optional<pid_t> network;
    ASSERT_TRUE(waitUntil([&] { return (network = descendantNamed(app->pid(), "WebKitNetwork")).has_value(); },
                          kEventTimeout))
        << "no network process under the app";
    const std::string root = "/proc/" + std::to_string(*network) + "/root";
    EXPECT_EQ(readFile(root + kSystemHosts), readFile(tls.hostsFile));
    EXPECT_EQ(readFile(root + kSystemCaBundle), readFile(tls.caBundle));
    EXPECT_NE(mountNamespace(std::to_string(*network)), mountNamespace("self"));

    closeWithKeyboardAndExpectCleanExit(*app);
    EXPECT_EQ(readFile(kSystemHosts), hostsBefore);
    EXPECT_EQ(readFile(kSystemCaBundle), bundleBefore);
    EXPECT_EQ(bundleBefore.find(testCa), std::string::npos);
}

}  // namespace
}  // namespace corvidale::e2e
