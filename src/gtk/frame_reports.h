#pragma once

#include <webkit/webkit.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/request.h"

namespace corvidale::gtk {

// The folder, inside the bundle, of the web process extension that reports
// on frames, and whether it is there; told on standard error when it is not.
bool loadFrameReports(const std::string& bundlePath);

// An origin or URL as the engine writes it, as the seam names origins; an
// opaque origin ("null", data:, about:) has no protocol or host.
platform::SecurityOrigin securityOriginOf(std::string_view text);

// What the shell's web process extension tells of one page's frames: which
// frame's script is in a call that may reach the shell, and in which frame
// the user last pressed a button or a key. Its messages come in order with
// the engine's own requests, so what the engine asks for between a frame's
// "enter" and "leave" is that frame's.
class FrameReports {
public:
    struct Caller {
        guint64 id = 0;
        platform::FrameInfo info;
    };

    // Takes a message of the extension's; false for any other.
    bool receive(WebKitUserMessage* message);
    // No call of an earlier document or process is running any more.
    void forgetCalls() { calls_.clear(); }

    // The frame whose call is running, if any.
    std::optional<Caller> caller() const;
    // The frame that last called print(), once: the engine may ask for the
    // print dialog after that call has returned.
    std::optional<Caller> takePrintCaller();
    // The number of the user's latest press: only if it was in frame
    // `inFrame` when that is given, and at most `maxAge` microseconds ago
    // when that is not 0.
    std::optional<std::uint64_t> latestPress(std::optional<guint64> inFrame, gint64 maxAge) const;

private:
    struct Press {
        std::uint64_t number = 0;
        guint64 frame = 0;
        gint64 time = 0;
    };

    std::vector<Caller> calls_;
    std::optional<Caller> printCaller_;
    std::optional<Press> lastPress_;
};

}  // namespace corvidale::gtk
