#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"
#include "util.h"

namespace corvidale::e2e {

// A fresh user for the app: HOME with its XDG folders, a Downloads folder
// named in user-dirs.dirs, and a stand-in default browser. Relaunching with
// the same Profile is relaunching as the same user.
class Profile {
public:
    Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    std::string root() const { return dir_.path(); }
    std::string home() const { return dir_ / "home"; }
    std::string configHome() const { return home() + "/.config"; }
    std::string dataHome() const { return home() + "/.local/share"; }
    std::string cacheHome() const { return home() + "/.cache"; }
    std::string stateHome() const { return home() + "/.local/state"; }
    std::string runtimeDir() const { return dir_ / "runtime"; }
    std::string downloads() const { return home() + "/Downloads"; }
    std::string logs() const { return dir_ / "logs"; }

    // Every URL handed to the default browser (or any other handler), in order.
    std::vector<std::string> opened() const;
    bool waitForOpened(const std::string& url, Millis timeout) const;

    // Names in the Downloads folder.
    std::vector<std::string> downloadedFiles() const;

    // A new log-file stem for the next run.
    std::string nextRunStem();

private:
    TempDir dir_;
    std::string openedLog_;
    int runs_ = 0;
};

struct LaunchOptions {
    std::optional<std::string> origin;  // CORVIDALE_ORIGIN; nullopt leaves it unset
    std::optional<std::string> stamp;   // CORVIDALE_STAMP
    std::vector<std::string> arguments;
    bool withDisplay = true;
    // Inside the private namespace: the test CA and the test hosts.
    bool withTestNetwork = true;
    std::optional<std::string> executable;  // another bundle's; default: the built app
    std::optional<std::string> workingDirectory;  // default: the test process's
    Environment extraEnvironment;
};

// The usual run: the app at `origin`.
inline LaunchOptions originAt(const std::string& origin) {
    LaunchOptions options;
    options.origin = origin;
    return options;
}

// One run of the app under the Profile. Destroying it kills everything the run started.
class App {
public:
    App(Profile& profile, const LaunchOptions& options);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    pid_t pid() const { return child_->pid(); }
    std::optional<ExitStatus> waitForExit(Millis timeout) { return child_->waitFor(timeout); }
    bool running() { return !child_->poll(); }

    std::string out() const { return readFile(stdoutPath_); }
    std::string err() const { return readFile(stderrPath_); }
    std::vector<std::string> errLines() const { return splitLines(err()); }
    std::vector<std::string> outLines() const { return splitLines(out()); }
    // Waits for stderr to hold `line` as a whole line `count` times.
    bool waitForErrLine(const std::string& line, Millis timeout, size_t count = 1) const;
    size_t countErrLines(const std::string& line) const;

    // The main window, once it is visible (throws when it does not appear).
    std::string window(Millis timeout = 60s);
    const std::string& display() const { return display_; }

    // Everything about this run, for failure messages.
    std::string describe() const;

private:
    std::unique_ptr<Child> child_;
    std::string display_;
    std::string stdoutPath_;
    std::string stderrPath_;
    std::string window_;
};

// A copy of the built bundle whose Info.plist the test may rewrite.
class BundleCopy {
public:
    BundleCopy();
    BundleCopy(const BundleCopy&) = delete;
    BundleCopy& operator=(const BundleCopy&) = delete;

    void setString(const std::string& key, const std::string& value);
    void setInteger(const std::string& key, long long value);
    void remove(const std::string& key);

    std::string bundle() const { return dir_ / "Corvidale.app"; }
    std::string infoPlist() const { return bundle() + "/Contents/Info.plist"; }
    std::string executable() const;

private:
    TempDir dir_;
};

// artifacts/<Suite>.<Test> of the running test.
std::string currentTestArtifactFolder();

// A string value of the built bundle's Info.plist (empty when absent or not a string).
std::string bundleInfoString(const std::string& infoPlist, const std::string& key);

}  // namespace corvidale::e2e
