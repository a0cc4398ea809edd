#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/platform.h"
#include "core/platform/ui_delegate.h"
#include "core/platform/web_view.h"

namespace corvidale::testing {

// Thrown by the fake process exit so that a test can watch the core end the process.
struct Exited {
    int status;
};

// The status `action` ended the process with, or -1.
template <class Action>
int exitStatus(Action&& action) try {
    action();
    return -1;
} catch (const Exited& exited) {
    return exited.status;
}

struct FakeWebView;

struct FakeDownload : platform::Download {
    explicit FakeDownload(platform::DownloadId id) : number(id) {}
    platform::DownloadId id() const override { return number; }
    void setDelegate(platform::DownloadDelegate* d) override { delegate = d; }
    std::optional<std::uint64_t> expectedLength() const override { return expected; }
    std::uint64_t receivedLength() const override { return received; }
    void cancel() override { cancelled = true; }
    platform::DownloadId number;
    std::optional<std::uint64_t> expected;
    std::uint64_t received = 0;
    bool cancelled = false;
    platform::DownloadDelegate* delegate = nullptr;
};


// Tells what is done to it in `calls`.
struct FakeWindow : platform::Window {
    explicit FakeWindow(std::vector<std::string>& calls) : calls(calls) {}
    void setTitle(const std::string& t) override { calls.push_back("title " + (currentTitle = t)); }
    void setMovableByWindowBackground(bool) override {}
    void setMinSize(platform::Size s) override {
        calls.push_back("minSize " + std::to_string(int(s.width)) + "x" + std::to_string(int(s.height)));
    }
    void setContentView(platform::WebView&) override {}
    void setFrameAutosaveName(const std::string& name) override { calls.push_back("autosave " + name); }
    void center() override {}
    void makeKeyAndOrderFront() override { calls.push_back("show"); }
    void showActivity(const std::vector<platform::ActivityRow>& r) override { rows = r; }
    void setActivityCancelHandler(std::function<void(std::uint64_t)> c) override { cancel = std::move(c); }
    std::vector<std::string>& calls;
    std::vector<platform::ActivityRow> rows;
    std::function<void(std::uint64_t)> cancel;
    std::string currentTitle;
};

struct FakeTimer : platform::Timer {
    void invalidate() override { *valid = false; }
    std::shared_ptr<bool> valid = std::make_shared<bool>(true);
};

// No installation runs against the fake; it only has to exist.
struct NoFiles : platform::FileManager {
    std::string temporaryDirectory() override { return "/tmp"; }
    std::string cachesDirectory() override { return {}; }
    std::optional<platform::Error> replaceItem(const std::string&, const std::string&) override {
        return platform::Error{"no files here", "no files here"};
    }
    std::variant<std::unique_ptr<platform::Bundle>, platform::Error> bundleAt(const std::string&) override {
        return platform::Error{"no files here", "no files here"};
    }
};

// One object for every interface of the seam. What the core did lands in
// `calls` and the line vectors; what it is given is set in the public maps.
struct Fake : platform::Platform, platform::Bundle, platform::Environment, platform::Defaults, platform::Application,
              platform::Workspace, platform::Dialogs, platform::MainQueue, platform::Process, platform::URLSession,
              platform::NotificationCenter, platform::LauncherProgress {
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
    platform::NotificationCenter& notificationCenter() override { return *this; }
    platform::LauncherProgress& launcherProgress() override { return *this; }
    void setProgress(std::optional<double> f) override { launcher.push_back(f); }
    std::vector<std::optional<double>> launcher;
    bool webViewHasNotificationAPI() const override { return true; }
    // Runs the job at once, or with `workerThreads` on a thread of its own
    // until joinWorkers(): what it posts waits for the clock.
    void runInBackground(std::function<void()> job) override {
        if (!workerThreads) return job();
        workers.emplace_back(std::move(job));
    }
    ~Fake() override { joinWorkers(); }
    void joinWorkers() {
        for (auto& worker : workers) worker.join();
        workers.clear();
    }
    std::unique_ptr<platform::WebView> createWebView(const platform::WebViewConfiguration& c) override;
    std::unique_ptr<platform::Window> createWindow(const platform::WindowShape& s) override {
        calls.push_back("createWindow " + std::to_string(int(s.contentRect.width)) + "x" +
                        std::to_string(int(s.contentRect.height)) + " style " + std::to_string(s.styleMask));
        return std::make_unique<FakeWindow>(calls);
    }
    std::unique_ptr<platform::NetworkWatch> watchNetwork(std::function<void(bool)> changed) override {
        networkChanged = std::move(changed);
        return std::make_unique<platform::NetworkWatch>();
    }
    std::optional<std::string> engineDefaultUserAgent() override { return engineAgent; }
    std::string userAgentPlatformWord() const override { return "linux"; }

    std::optional<platform::PlistValue> infoValue(std::string_view key) const override { return find(info, key); }
    std::optional<std::string> bundleIdentifier() const override { return bundleId; }
    std::string bundlePath() const override { return "/Applications/Corvidale.app"; }
    std::optional<std::string> get(std::string_view name) const override { return find(env, name); }

    std::optional<std::string> string(std::string_view key) const override { return find(stored, key); }
    bool boolean(std::string_view key) const override { return string(key) == "YES"; }
    void setString(std::string_view key, std::string_view value) override {
        stored[std::string(key)] = value;
        ++defaultsWrites;
    }
    void setBoolean(std::string_view key, bool value) override { setString(key, value ? "YES" : "NO"); }

    void activateIgnoringOtherApps() override { calls.push_back("activate"); }
    std::optional<platform::Appearance> appearance() const override { return look; }
    void setAppearance(platform::Appearance a) override { look = a; }
    void setMainMenu(const platform::MenuBar&) override { calls.push_back("setMainMenu"); }
    void terminate() override { calls.push_back("terminate"); }

    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    void revealFiles(const std::vector<std::string>& paths) override { revealed.push_back(paths.at(0)); }
    std::optional<std::string> downloadsDirectory() override { return downloadsFolder; }

    void showAlert(const platform::AlertContent& content, platform::Presentation presentation,
                   std::function<void(platform::AlertResult)> done) override {
        alerts.push_back({content, std::move(done), presentation});
    }
    void showOpenPanel(const platform::OpenPanelParameters& parameters,
                       std::function<void(int, std::vector<std::string>)> done) override {
        panels.push_back({parameters, std::move(done)});
    }

    // Time stands still until a test advances it.
    void post(std::function<void()> job) override { after(0, std::move(job)); }
    void after(double seconds, std::function<void()> job) override {
        calls.push_back("after " + std::to_string(seconds).substr(0, 4));
        jobs.emplace(now + seconds, std::move(job));
    }
    std::unique_ptr<platform::Timer> repeating(double interval, std::function<void()> job) override {
        calls.push_back("repeating " + std::to_string(int(interval)));
        auto timer = std::make_unique<FakeTimer>();
        schedule(interval, std::move(job), timer->valid);
        return timer;
    }
    void schedule(double interval, std::function<void()> job, std::shared_ptr<bool> valid) {
        jobs.emplace(now + interval, [this, interval, job, valid] {
            if (!*valid) return;
            schedule(interval, job, valid);
            job();
        });
    }
    bool runUntil(const std::function<bool()>& done, double timeout) override {
        for (double end = now + timeout; !done(); now += 0.01) {
            if (now >= end) return false;
            if (onTurn) onTurn();
        }
        return true;
    }
    void advance(double seconds) {
        const double end = now + seconds;
        while (!jobs.empty() && jobs.begin()->first <= end) {
            auto job = std::move(jobs.begin()->second);
            now = jobs.begin()->first;
            jobs.erase(jobs.begin());
            job();
        }
        now = end;
    }

    void writeStdout(std::string_view line) override { out.emplace_back(line); }
    void writeStderr(std::string_view line) override { err.emplace_back(line); }
    void systemLog(std::string_view line) override { log.emplace_back(line); }
    std::int64_t secondsSince1970() const override { return wallClock + static_cast<std::int64_t>(now); }
    bool startDetached(const std::string& executable, const std::vector<std::string>& arguments) override {
        std::string call = "startDetached " + executable;
        for (const auto& argument : arguments) call += " [" + argument + "]";
        calls.push_back(call);
        return true;
    }

    // Answers from `urlResults`; an unknown URL is a transport error.
    platform::URLResult data(const platform::URLRequest& request, std::uint64_t maxBytes) override {
        calls.push_back("fetch " + request.url + " policy " + std::to_string(int(request.cachePolicy)) + " timeout " +
                        std::to_string(int(request.timeoutSeconds)) + " max " + std::to_string(maxBytes));
        const auto found = urlResults.find(request.url);
        if (found != urlResults.end()) return found->second;
        return {platform::Error{"not found", "Error Domain=fake Code=1 \"not found\""}, {}};
    }
    platform::URLResult download(const platform::URLRequest& request, const platform::DownloadLimits&,
                                 const std::string&, const platform::DownloadWatch&) override {
        return data(request, 0);
    }
    void endProcess(int status) override { throw Exited{status}; }

    void setDelegate(platform::NotificationCenterDelegate* delegate) override { notificationDelegate = delegate; }
    void requestAuthorization() override { calls.push_back("requestAuthorization"); }
    void add(const platform::NotificationRequest& r) override {
        calls.push_back("notify " + r.identifier + " [" + r.title + "] [" + r.body + "]");
    }
    void remove(const std::string& identifier) override { calls.push_back("withdraw " + identifier); }

    template <class Map>
    static std::optional<typename Map::mapped_type> find(const Map& map, std::string_view key) {
        const auto found = map.find(key);
        return found == map.end() ? std::nullopt : std::optional(found->second);
    }

    std::map<std::string, platform::PlistValue, std::less<>> info;
    std::map<std::string, std::string, std::less<>> env, stored;
    int defaultsWrites = 0;
    std::optional<std::string> engineAgent = "Engine/1.0";
    std::optional<std::string> bundleId = "com.corvidale.desktop";
    std::map<std::string, platform::URLResult, std::less<>> urlResults;
    NoFiles files;
    std::optional<std::string> downloadsFolder;
    std::function<void()> onTurn;
    std::function<void(bool)> networkChanged;
    bool workerThreads = false;
    platform::NotificationCenterDelegate* notificationDelegate = nullptr;
    std::vector<std::thread> workers;

    std::vector<std::string> calls, out, err, log, opened, revealed;
    std::optional<platform::Appearance> look;
    FakeWebView* web = nullptr;
    struct Alert {
        platform::AlertContent content;
        std::function<void(platform::AlertResult)> done;
        platform::Presentation presentation;
    };
    std::deque<Alert> alerts;
    struct Panel {
        platform::OpenPanelParameters parameters;
        std::function<void(int, std::vector<std::string>)> done;
    };
    std::deque<Panel> panels;
    std::multimap<double, std::function<void()>> jobs;
    double now = 0;
    std::int64_t wallClock = 0;
};

struct FakeWebView : platform::WebView {
    FakeWebView(Fake& p, platform::WebViewConfiguration c) : p(p), config(std::move(c)) {}
    ~FakeWebView() override {
        if (p.web == this) p.web = nullptr;
    }
    void addScriptMessageHandler(const std::string& name, platform::ScriptMessageHandler&) override {
        handlerNames.push_back(name);
    }
    void addUserScript(const platform::UserScript& script) override { userScripts.push_back(script); }
    void setNavigationDelegate(platform::NavigationDelegate*) override {}
    void setUIDelegate(platform::UIDelegate*) override {}
    void setAllowsBackForwardNavigationGestures(bool) override {}
    void setCustomUserAgent(const std::string& agent) override { p.calls.push_back("userAgent " + agent); }
    void load(const platform::URLRequest& request) override {
        loaded = request;
        currentUrl = request.url;
        p.calls.push_back("load " + request.url);
    }
    void reload() override { p.calls.push_back("reload"); }
    double pageZoom() const override { return zoom; }
    void setPageZoom(double value) override { zoom = value; }
    std::string url() const override { return currentUrl; }
    void loadHTMLString(const std::string& html, const std::string& baseURL) override {
        shownHTML = html;
        currentUrl = baseURL.empty() ? "about:blank" : baseURL;
        p.calls.push_back("html " + baseURL);
    }
    bool loadAlternateHTMLString(const std::string& html, const std::string& unreachableURL) override {
        if (!alternateInPlace) {
            loadHTMLString(html, "");
            return false;
        }
        shownHTML = html;
        currentUrl = unreachableURL;
        p.calls.push_back("html in place of " + unreachableURL);
        return true;
    }
    void evaluateJavaScript(const std::string& script, std::function<void(platform::ScriptResult)> done) override {
        scripts.push_back(script);
        completions.push_back(std::move(done));
    }
    void notificationClicked(std::uint64_t id) override { p.calls.push_back("clicked " + std::to_string(id)); }
    void setNotificationOrigins(const std::vector<std::string>& origins) override {
        for (const auto& origin : origins) p.calls.push_back("allow notifications " + origin);
    }
    Fake& p;
    platform::WebViewConfiguration config;
    std::optional<platform::URLRequest> loaded;
    double zoom = 1.0;
    // Whether the engine can show a page in a failed load's place.
    bool alternateInPlace = true;
    std::string currentUrl;
    std::string shownHTML;
    std::vector<std::string> scripts;
    std::vector<std::function<void(platform::ScriptResult)>> completions;
    std::vector<std::string> handlerNames;
    std::vector<platform::UserScript> userScripts;
};

inline std::unique_ptr<platform::WebView> Fake::createWebView(const platform::WebViewConfiguration& c) {
    auto view = std::make_unique<FakeWebView>(*this, c);
    web = view.get();
    return view;
}

}  // namespace corvidale::testing
