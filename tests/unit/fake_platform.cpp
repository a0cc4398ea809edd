#include "fake_platform.h"

#include <algorithm>
#include <sstream>

namespace corvidale::testing {

namespace {

std::string lowered(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string number(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

FakeWebView::FakeWebView(FakePlatform& owner, platform::WebViewConfiguration config, std::string viewName)
    : platform(owner), configuration(std::move(config)), name(std::move(viewName)) {}

FakeWebView::~FakeWebView() {
    if (platform.lastWebView == this) platform.lastWebView = nullptr;
}

void FakeWebView::setNavigationDelegate(platform::NavigationDelegate*) { platform.record(name + ".setNavigationDelegate"); }
void FakeWebView::setUIDelegate(platform::UIDelegate*) { platform.record(name + ".setUIDelegate"); }
void FakeWebView::setAllowsBackForwardNavigationGestures(bool allow) {
    platform.record(name + ".setAllowsBackForwardNavigationGestures " + (allow ? "yes" : "no"));
}
void FakeWebView::setCustomUserAgent(const std::string& userAgent) {
    customUserAgent = userAgent;
    platform.record(name + ".setCustomUserAgent " + userAgent);
}
void FakeWebView::load(const platform::URLRequest& request) {
    loaded = request;
    currentUrl = request.url;
    platform.record(name + ".load " + request.url);
}
void FakeWebView::reload() { platform.record(name + ".reload"); }
void FakeWebView::setPageZoom(double value) {
    zoom = value;
    platform.record(name + ".setPageZoom " + number(value));
}
void FakeWebView::evaluateJavaScript(const std::string& script, std::function<void(platform::ScriptResult)> completion) {
    platform.record(name + ".evaluateJavaScript");
    if (autoAnswer) {
        completion(*autoAnswer);
        return;
    }
    evaluations.push_back({script, std::move(completion)});
}

FakeWindow::FakeWindow(FakePlatform& owner, platform::WindowShape windowShape) : platform(owner), shape(windowShape) {}
void FakeWindow::setTitle(const std::string& title) {
    currentTitle = title;
    platform.record("window.setTitle " + title);
}
void FakeWindow::setMovableByWindowBackground(bool movable) {
    platform.record(std::string("window.setMovableByWindowBackground ") + (movable ? "yes" : "no"));
}
void FakeWindow::setMinSize(platform::Size size) {
    platform.record("window.setMinSize " + number(size.width) + "x" + number(size.height));
}
void FakeWindow::setContentView(platform::WebView& view) {
    platform.record("window.setContentView " + static_cast<FakeWebView&>(view).name);
}
void FakeWindow::setFrameAutosaveName(const std::string& name) { platform.record("window.setFrameAutosaveName " + name); }
void FakeWindow::center() { platform.record("window.center"); }
void FakeWindow::makeKeyAndOrderFront() { platform.record("window.makeKeyAndOrderFront"); }

std::unique_ptr<platform::WebView> FakePlatform::createWebView(const platform::WebViewConfiguration& configuration) {
    const std::string name = webViewsCreated++ == 0 ? "web" : "probe";
    record("createWebView " + name);
    createdConfigurations.push_back(configuration);
    auto view = std::make_unique<FakeWebView>(*this, configuration, name);
    lastWebView = view.get();
    return view;
}

std::unique_ptr<platform::Window> FakePlatform::createWindow(const platform::WindowShape& shape) {
    record("createWindow " + number(shape.contentRect.width) + "x" + number(shape.contentRect.height) + " style " +
           std::to_string(shape.styleMask));
    auto window = std::make_unique<FakeWindow>(*this, shape);
    lastWindow = window.get();
    return window;
}

std::optional<platform::PlistValue> FakePlatform::infoValue(std::string_view key) const {
    const auto found = info.find(key);
    if (found == info.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> FakePlatform::get(std::string_view name) const {
    const auto found = env.find(name);
    if (found == env.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> FakePlatform::string(std::string_view key) const {
    const auto found = stored.find(key);
    if (found == stored.end()) return std::nullopt;
    return found->second;
}

bool FakePlatform::boolean(std::string_view key) const {
    const auto value = string(key);
    if (!value) return false;
    const auto text = lowered(*value);
    return text == "yes" || text == "true" || text == "1";
}

void FakePlatform::setString(std::string_view key, std::string_view value) {
    stored[std::string(key)] = std::string(value);
    record("defaults.set " + std::string(key) + "=" + std::string(value));
}

void FakePlatform::setBoolean(std::string_view key, bool value) { setString(key, value ? "YES" : "NO"); }

void FakePlatform::setAppearance(platform::Appearance value) {
    currentAppearance = value;
    record(std::string("app.setAppearance ") + (value == platform::Appearance::Light ? "light" : "dark"));
}

void FakePlatform::setMainMenu(const platform::MenuBar& bar) {
    menuBar = bar;
    record("app.setMainMenu");
}

bool FakePlatform::openURL(const std::string& url) {
    openedURLs.push_back(url);
    record("workspace.openURL " + url);
    return true;
}

void FakePlatform::revealFiles(const std::vector<std::string>& paths) {
    std::string joined;
    for (const auto& path : paths) joined += " " + path;
    record("workspace.revealFiles" + joined);
}

void FakePlatform::showAlert(const platform::AlertContent& content, platform::Presentation presentation,
                             std::function<void(platform::AlertResult)> done) {
    record("dialogs.showAlert " + content.messageText);
    alerts.push_back({content, presentation, std::move(done)});
}

void FakePlatform::showOpenPanel(const platform::OpenPanelParameters& parameters,
                                 std::function<void(int, std::vector<std::string>)> done) {
    record("dialogs.showOpenPanel");
    panels.push_back({parameters, std::move(done)});
}

void FakePlatform::answerAlert(platform::AlertResult result) {
    auto alert = std::move(alerts.front());
    alerts.pop_front();
    alert.done(result);
}

void FakePlatform::after(double seconds, std::function<void()> job) {
    record("queue.after " + number(seconds));
    jobs_.push_back({now + seconds, sequence_++, std::move(job), std::make_shared<bool>(false)});
}

namespace {
class FakeTimer : public platform::Timer {
public:
    explicit FakeTimer(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
    void invalidate() override { *cancelled_ = true; }
    bool isValid() const override { return !*cancelled_; }

private:
    std::shared_ptr<bool> cancelled_;
};
}  // namespace

std::unique_ptr<platform::Timer> FakePlatform::repeating(double intervalSeconds, std::function<void()> job) {
    record("queue.repeating " + number(intervalSeconds));
    auto cancelled = std::make_shared<bool>(false);
    jobs_.push_back({now + intervalSeconds, sequence_++, std::move(job), cancelled, intervalSeconds});
    return std::make_unique<FakeTimer>(cancelled);
}

bool FakePlatform::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    record("queue.runUntil " + number(timeoutSeconds));
    const double deadline = now + timeoutSeconds;
    while (!done()) {
        if (onRunLoopTurn) onRunLoopTurn();
        if (done()) break;
        // Nothing else can happen in a fake loop but time passing.
        if (now >= deadline) return false;
        now = std::min(deadline, now + 0.1);
    }
    return true;
}

void FakePlatform::advance(double seconds) {
    const double until = now + seconds;
    for (;;) {
        auto next = std::min_element(jobs_.begin(), jobs_.end(), [](const Job& a, const Job& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (next == jobs_.end() || next->due > until) break;
        Job job = *next;
        jobs_.erase(next);
        if (*job.cancelled) continue;
        now = job.due;
        if (job.repeatEvery > 0) {
            jobs_.push_back({now + job.repeatEvery, sequence_++, job.job, job.cancelled, job.repeatEvery});
        }
        job.job();
    }
    now = until;
}

bool FakePlatform::startDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    std::string call = "process.startDetached " + executable;
    for (const auto& argument : arguments) call += " [" + argument + "]";
    record(call);
    return true;
}

platform::URLResult FakePlatform::data(const platform::URLRequest& request, std::uint64_t maxBytes) {
    record("url.data " + request.url + " " + std::to_string(static_cast<int>(request.cachePolicy)) + " " +
           number(request.timeoutSeconds) + " " + std::to_string(maxBytes));
    const auto found = urlResults.find(request.url);
    if (found != urlResults.end()) return found->second;
    return {platform::Error{"not found", "Error Domain=fake Code=1 \"not found\""}, {}};
}

}  // namespace corvidale::testing
