#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/process.h"
#include "app_origin.h"

namespace corvidale {

// Links of the application's own scheme, "<scheme>://open/<path>?<query>",
// open <origin>/<path>?<query> in the window: the path from the origin's root
// (a path the origin names is its first page only), path, query and fragment
// exactly as the link writes them. Anything else is refused: such
// links come from mail, chat and other people's pages, so they are read as
// a hostile page's would be.
inline constexpr std::string_view kDeepLinkHost = "open";
// Longer links are refused unread; no page of the application needs one.
inline constexpr std::size_t kMaxDeepLinkLength = 8192;

struct DeepLinkDecision {
    std::optional<std::string> url;  // the page to show, when the link is good
    std::string refusal;             // why not, otherwise
};

// `scheme` is the application's link scheme, in small letters; `origin` the
// web application's origin.
DeepLinkDecision resolveDeepLink(std::string_view link, std::string_view scheme, const AppOrigin& origin);

// Reads the links the system hands the application and logs each it refuses.
class DeepLinkController {
public:
    // No scheme: every link is refused.
    DeepLinkController(platform::Process& process, std::optional<std::string> scheme, const AppOrigin& origin);

    // The page the last good one of `links` opens; nullopt when none is good.
    std::optional<std::string> pageFor(const std::vector<std::string>& links) const;

private:
    platform::Process& process_;
    std::optional<std::string> scheme_;
    const AppOrigin& origin_;
};

}  // namespace corvidale
