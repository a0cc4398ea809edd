#include "shell_page_controller.h"

namespace corvidale {
namespace {

// A page that takes its process down again this soon after a reload would
// only do it again.
constexpr double kTerminationMemorySeconds = 30.0;

}  // namespace

ShellPageController::ShellPageController(platform::WebView& web, platform::Application& application,
                                         platform::MainQueue& queue, std::string originURL)
    : web_(web), application_(application), originURL_(std::move(originURL)), terminationMemory_(queue), jobs_(queue) {}

void ShellPageController::show(const ShellPage& page, const std::string& retryURL) {
    shown_ = Shown{page, {}, retryURL, false};
    load(page);
}

bool ShellPageController::showInPlaceOf(const ShellPage& page, const std::string& failedURL) {
    shown_ = Shown{page, {}, failedURL, true};
    load(page);
    return shown_->tookPlace;
}

bool ShellPageController::isShowingInPlaceOf(const std::string& failedURL) const {
    return shown_ && shown_->inPlace && shown_->retryURL == failedURL;
}

void ShellPageController::pageDidFinishLoading() {
    if (shown_ && shown_->inPlace) shown_.reset();
}

void ShellPageController::load(const ShellPage& page) {
    // A fresh action for every showing: a URL seen once opens nothing later.
    shown_->actionURL = newShellActionURL();
    const auto appearance = application_.appearance().value_or(platform::Appearance::Dark);
    const std::string html = shellPageHTML(page, appearance, shown_->actionURL);
    // No base either way: the page belongs to no site, so nothing of the
    // application's origin can reach into it, nor it into the application's data.
    if (shown_->inPlace) {
        shown_->tookPlace = web_.loadAlternateHTMLString(html, shown_->retryURL);
    } else {
        web_.loadHTMLString(html, "");
    }
}

void ShellPageController::open(const std::string& url) {
    shown_.reset();
    web_.load({url, platform::CachePolicy::UseProtocolCachePolicy, 60.0});
}

void ShellPageController::reload() {
    if (shown_) {
        leave();
        return;
    }
    web_.reload();
}

bool ShellPageController::follow(const platform::NavigationAction& action) {
    if (!shown_ || action.url != shown_->actionURL) return false;
    // Not from inside the engine's question: it is still busy with this navigation.
    jobs_.post([this, url = shown_->actionURL] {
        if (shown_ && shown_->actionURL == url) leave();
    });
    return true;
}

void ShellPageController::webContentProcessDidTerminate() {
    const bool again = recentTermination_;
    recentTermination_ = true;
    terminationMemory_.cancel();
    terminationMemory_.after(kTerminationMemorySeconds, [this] { recentTermination_ = false; });
    if (shown_) {
        // The shell's own page went with the process: show it again, once.
        if (!again) load(shown_->page);
        return;
    }
    if (!again) {
        web_.reload();
        return;
    }
    const std::string current = web_.url();
    show({"Corvidale", "The page stopped unexpectedly, twice in a short time.", "Reload"},
         current.empty() ? originURL_ : current);
}

void ShellPageController::leave() {
    const Shown left = *shown_;
    shown_.reset();
    // In place of a failed load, a reload tries it again in the same entry
    // of the history; a new load would add one. Where the engine could not
    // put the page there, a reload would only reload the page.
    if (left.tookPlace) {
        web_.reload();
    } else {
        web_.load({left.retryURL, platform::CachePolicy::UseProtocolCachePolicy, 60.0});
    }
}

}  // namespace corvidale
