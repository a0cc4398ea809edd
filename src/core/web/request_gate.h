#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/main_queue.h"
#include "core/platform/web_view.h"

namespace corvidale {

// Windows a minute that pages may send to the browser with no click or key
// press of the user's behind them.
inline constexpr unsigned kUnrequestedOpensPerMinute = 3;

enum class GateVerdict {
    Allow,
    ForeignFrame,  // a frame of another site asked, with no user action left to spend
    TooMany,       // this minute's allowance of requests without a user action is spent
    NoGesture,     // only a user action allows it, one each
};

// What pages may make the desktop do without the user: one window for the
// browser per click or key press plus a few a minute from scripts, nothing
// on behalf of frames of other sites, one print per click or key press, no
// downloads started by frames of other sites. Where the backend cannot tell
// who asked (no initiator), the engine's own rules stay in charge.
class RequestGate {
public:
    explicit RequestGate(platform::MainQueue& queue) : queue_(queue) {}

    // A URL about to go to the browser: a link followed away from the window,
    // or a new window.
    GateVerdict admitExternalOpen(const std::optional<platform::Initiator>& initiator,
                                  const std::optional<std::string>& originHost);
    GateVerdict admitPrint(const platform::Initiator& initiator);
    // A response about to become a download.
    GateVerdict admitDownload(const platform::NavigationResponse& response,
                              const std::optional<std::string>& originHost) const;

private:
    platform::MainQueue& queue_;
    std::optional<std::uint64_t> lastGestureOpened_;
    std::optional<std::uint64_t> lastGesturePrinted_;
    // Requests let through without a user action in the last minute; each
    // leaves the count a minute after it came.
    std::shared_ptr<unsigned> unrequestedOpens_ = std::make_shared<unsigned>(0);
};

// The line the page's console gets when a request of `kind` ("open",
// "print", "download") for `url` was refused for `verdict`.
std::string refusalMessage(GateVerdict verdict, const std::string& kind, const std::string& url);

// `text` as a JavaScript string literal, whatever bytes it holds.
std::string javaScriptString(const std::string& text);

}  // namespace corvidale
