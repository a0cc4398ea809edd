#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/platform.h"

namespace corvidale::testing {

// Thrown by the fake process exit so a test can watch the core end the process.
struct ProcessExited {
    int status;
};

// A platform that records what the core asked of it, in order, as short
// strings ("window.setTitle Corvidale"), and lets a test answer dialogs,
// script evaluations and timers by hand.
class FakePlatform;

class FakeWebView : public platform::WebView {
public:
    FakeWebView(FakePlatform& platform, platform::WebViewConfiguration configuration, std::string name);
    ~FakeWebView() override;
    void setNavigationDelegate(platform::NavigationDelegate* delegate) override;
    void setUIDelegate(platform::UIDelegate* delegate) override;
    void setAllowsBackForwardNavigationGestures(bool allow) override;
    void setCustomUserAgent(const std::string& userAgent) override;
    void load(const platform::URLRequest& request) override;
    void reload() override;
    double pageZoom() const override { return zoom; }
    void setPageZoom(double value) override;
    std::string url() const override { return currentUrl; }
    void evaluateJavaScript(const std::string& script, std::function<void(platform::ScriptResult)> completion) override;

    FakePlatform& platform;
    platform::WebViewConfiguration configuration;
    std::string name;
    std::string customUserAgent;
    std::optional<platform::URLRequest> loaded;
    double zoom = 1.0;
    std::string currentUrl;
    struct Evaluation {
        std::string script;
        std::function<void(platform::ScriptResult)> completion;
    };
    std::vector<Evaluation> evaluations;
    // When set, evaluations are answered at once with this result.
    std::optional<platform::ScriptResult> autoAnswer;
};

class FakeWindow : public platform::Window {
public:
    FakeWindow(FakePlatform& platform, platform::WindowShape shape);
    void setTitle(const std::string& title) override;
    std::string title() const override { return currentTitle; }
    void setMovableByWindowBackground(bool movable) override;
    void setMinSize(platform::Size size) override;
    void setContentView(platform::WebView& view) override;
    void setFrameAutosaveName(const std::string& name) override;
    void center() override;
    void makeKeyAndOrderFront() override;

    FakePlatform& platform;
    platform::WindowShape shape;
    std::string currentTitle;
};

// No installation runs against the fake: it only has to exist.
class ScratchFileManager : public platform::FileManager {
public:
    std::string temporaryDirectory() override { return "/tmp"; }
    std::optional<platform::Error> replaceItem(const std::string&, const std::string&) override {
        return platform::Error{"not in these tests", "not in these tests"};
    }
    std::optional<std::string> bundleIdentifierAt(const std::string&) override { return std::nullopt; }
};

class FakePlatform : public platform::Platform,
                     public platform::Bundle,
                     public platform::Environment,
                     public platform::Defaults,
                     public platform::Application,
                     public platform::Workspace,
                     public platform::Dialogs,
                     public platform::MainQueue,
                     public platform::Process,
                     public platform::URLSession {
public:
    // --- Platform
    platform::Bundle& bundle() override { return *this; }
    platform::Environment& environment() override { return *this; }
    platform::Defaults& defaults() override { return *this; }
    platform::Application& application() override { return *this; }
    platform::Workspace& workspace() override { return *this; }
    platform::Dialogs& dialogs() override { return *this; }
    platform::MainQueue& mainQueue() override { return *this; }
    platform::Process& process() override { return *this; }
    platform::URLSession& urlSession() override { return *this; }
    platform::FileManager& fileManager() override { return files; }
    // Runs the job at once: whatever it posts waits for the clock.
    void runInBackground(std::function<void()> job) override { record("background"), job(); }
    std::unique_ptr<platform::WebView> createWebView(const platform::WebViewConfiguration& configuration) override;
    std::unique_ptr<platform::Window> createWindow(const platform::WindowShape& shape) override;
    std::optional<std::string> engineDefaultUserAgent() override { return knownUserAgent; }
    std::string userAgentPlatformWord() const override { return "linux"; }
    ScratchFileManager files;

    // --- Bundle / Environment
    std::optional<platform::PlistValue> infoValue(std::string_view key) const override;
    std::optional<std::string> bundleIdentifier() const override { return bundleId; }
    std::string bundlePath() const override { return "/Applications/Corvidale.app"; }
    std::optional<std::string> get(std::string_view name) const override;

    // --- Defaults
    std::optional<std::string> string(std::string_view key) const override;
    bool boolean(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void setBoolean(std::string_view key, bool value) override;

    // --- Application
    void setActivationPolicyRegular() override { record("app.setActivationPolicyRegular"); }
    void activateIgnoringOtherApps() override { record("app.activate"); }
    std::optional<platform::Appearance> appearance() const override { return currentAppearance; }
    void setAppearance(platform::Appearance value) override;
    void setMainMenu(const platform::MenuBar& menuBar) override;
    void terminate() override { record("app.terminate"); }

    // --- Workspace
    bool openURL(const std::string& url) override;
    void revealFiles(const std::vector<std::string>& paths) override;
    std::optional<std::string> downloadsDirectory() override { return downloadsFolder; }

    // --- Dialogs
    void showAlert(const platform::AlertContent& content, platform::Presentation presentation,
                   std::function<void(platform::AlertResult)> done) override;
    void showOpenPanel(const platform::OpenPanelParameters& parameters,
                       std::function<void(int, std::vector<std::string>)> done) override;

    // --- Main queue: nothing runs until the test advances the clock.
    void post(std::function<void()> job) override { after(0, std::move(job)); }
    void after(double seconds, std::function<void()> job) override;
    std::unique_ptr<platform::Timer> repeating(double intervalSeconds, std::function<void()> job) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
    // Runs every job due within `seconds` from now, in time order.
    void advance(double seconds);

    // --- Process
    void writeStdout(std::string_view line) override { stdoutLines.emplace_back(line); }
    void writeStderr(std::string_view line) override { stderrLines.emplace_back(line); }
    void systemLog(std::string_view line) override { logLines.emplace_back(line); }
    bool startDetached(const std::string& executable, const std::vector<std::string>& arguments) override;

    // --- URL session: answers from `urlResults`; an unknown URL is a transport error.
    platform::URLResult data(const platform::URLRequest& request, std::uint64_t maxBytes) override;
    platform::URLResult download(const platform::URLRequest& request, const platform::DownloadLimits&) override {
        return data(request, 0);
    }

    void record(std::string call) { calls.push_back(std::move(call)); }

    // What the test sets up.
    std::map<std::string, platform::PlistValue, std::less<>> info;
    std::map<std::string, std::string, std::less<>> env;
    std::map<std::string, std::string, std::less<>> stored;
    std::optional<std::string> bundleId = "com.corvidale.desktop";
    std::optional<std::string> knownUserAgent = "Mozilla/5.0 Engine";
    std::optional<std::string> downloadsFolder;
    std::map<std::string, platform::URLResult, std::less<>> urlResults;
    // Called when the main loop is run while waiting (runUntil), once per turn.
    std::function<void()> onRunLoopTurn;

    // What the core did.
    std::vector<std::string> calls;
    std::vector<std::string> stdoutLines;
    std::vector<std::string> stderrLines;
    std::vector<std::string> logLines;
    std::vector<std::string> openedURLs;
    std::optional<platform::Appearance> currentAppearance;
    std::optional<platform::MenuBar> menuBar;
    FakeWebView* lastWebView = nullptr;  // cleared when that view is destroyed
    std::vector<platform::WebViewConfiguration> createdConfigurations;
    FakeWindow* lastWindow = nullptr;
    int webViewsCreated = 0;
    double now = 0;

    struct PendingAlert {
        platform::AlertContent content;
        platform::Presentation presentation;
        std::function<void(platform::AlertResult)> done;
    };
    std::deque<PendingAlert> alerts;
    struct PendingPanel {
        platform::OpenPanelParameters parameters;
        std::function<void(int, std::vector<std::string>)> done;
    };
    std::deque<PendingPanel> panels;

    // Answers the oldest open alert.
    void answerAlert(platform::AlertResult result);

protected:
    void endProcess(int status) override { throw ProcessExited{status}; }

private:
    struct Job {
        double due;
        long sequence;
        std::function<void()> job;
        std::shared_ptr<bool> cancelled;
        double repeatEvery = 0;
    };
    std::vector<Job> jobs_;
    long sequence_ = 0;
};

}  // namespace corvidale::testing
