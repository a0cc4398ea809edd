#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/platform/request.h"
#include "core/platform/timers.h"
#include "core/web/app_origin.h"

namespace corvidale {

// Windows a minute that pages may send to the browser with no click or key
// press of the user's behind them.
inline constexpr unsigned kUnrequestedOpensPerMinute = 3;

enum class GateVerdict {
    Allow,
    ForeignFrame,  // a frame of another site asked, with no click or key press in it left to spend
    UnknownFrame,  // the engine did not tell which frame asked, and no user action is behind it
    TooMany,       // this minute's allowance of requests without a user action is spent
    NoGesture,     // only a user action allows it, one each
};

// What pages may make the desktop do without the user. Each click or key
// press in a frame allows one thing of that frame's: a window for the
// browser, a download or a print. Without one, the application's own frames
// may download and send a few windows a minute to the browser; frames of
// other sites, and frames the engine does not name, get nothing; nothing
// prints. Page dialogs come from the top frame or the application's frames
// only. Where the backend tells nothing of who asked (no initiator at all),
// the engine's own rules stay in charge.
class RequestGate {
public:
    RequestGate(platform::MainQueue& queue, const AppOrigin& origin)
        : origin_(origin), unrequestedOpens_(queue, kUnrequestedOpensPerMinute) {}

    // A URL about to go to the browser: a link followed away from the window,
    // or a new window.
    GateVerdict admitExternalOpen(const std::optional<platform::Initiator>& initiator);
    GateVerdict admitPrint(const platform::Initiator& initiator);
    // A response or a navigation about to become a download; `forMainFrame`:
    // it would have replaced the top document.
    GateVerdict admitDownload(const std::optional<platform::Initiator>& initiator, bool forMainFrame);
    // alert, confirm or prompt.
    GateVerdict admitDialog(const std::optional<platform::FrameInfo>& frame) const;

    // Whether `frame` shows a document of the application's origin.
    bool isOwn(const std::optional<platform::FrameInfo>& frame) const;

private:
    // Spends the initiator's user action; false when there is none left.
    bool spendGesture(const platform::Initiator& initiator);
    GateVerdict whoElse(const platform::Initiator& initiator) const;

    const AppOrigin& origin_;
    // Gesture numbers only grow: each allows one request.
    std::optional<std::uint64_t> lastGestureSpent_;
    // Requests let through without a user action.
    platform::PerMinuteAllowance unrequestedOpens_;
};

// The line the page's console gets when a request of `kind` ("open",
// "download", "print", "alert", "confirm", "prompt") for `target` (a URL, or
// the asking frame's origin for dialogs) was refused for `verdict`.
std::string refusalMessage(GateVerdict verdict, const std::string& kind, const std::string& target);

// `origin` as written in the engine's messages: "https://host[:port]", or
// "null" for an opaque one.
std::string serializedOrigin(const platform::SecurityOrigin& origin);

// `text` as a JavaScript string literal, whatever bytes it holds.
std::string javaScriptString(const std::string& text);

}  // namespace corvidale
