#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvidale::platform {

enum class CachePolicy { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

struct URLRequest {
    std::string url;
    CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
    double timeoutSeconds = 60.0;
};

// An origin as the engine names a document's: scheme, host and port, the way
// WKSecurityOrigin does. An opaque origin (a sandboxed frame, a data: document)
// has an empty protocol and host.
struct SecurityOrigin {
    std::string protocol;
    std::string host;
    int port = 0;  // 0: the scheme's default
};

// A frame as the engine tells of it (WKFrameInfo): whether it is the top one,
// and the origin of the document it shows.
struct FrameInfo {
    bool isMainFrame = false;
    SecurityOrigin securityOrigin;
};

// Who is behind a request, as far as the engine tells.
struct Initiator {
    // The user's click or key press in the asking frame that led to it, by a
    // number the backend gives each one; nullopt when none did.
    std::optional<std::uint64_t> userGesture;
    // The frame that asked; nullopt when the engine did not tell which.
    std::optional<FrameInfo> frame;
    // False where the engine tells nothing of the user's actions (WKWebView):
    // userGesture is then always nullopt and proves nothing.
    bool knowsUserGestures = true;
};

}  // namespace corvidale::platform
