// The navigation decision on any URL text a link can carry. Besides our own
// reading of the URL, GLib's parser reads it too: a link that either of them
// sees going to a foreign host must not stay in the window.
#include <glib.h>

#include <algorithm>
#include <string>

#include "core/util/url.h"
#include "core/web/navigation_policy.h"
#include "fuzz.h"

using namespace corvidale;
using platform::NavigationActionPolicy;

namespace {

const std::string kOriginHost = "app.example.com";
const AppOrigin kOrigin = *AppOrigin::parse("https://" + kOriginHost);

bool isOwnHost(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return g_ascii_tolower(c); });
    return host == kOriginHost || std::find(kSignInHosts.begin(), kSignInHosts.end(), host) != kSignInHosts.end();
}

std::optional<std::string> glibHost(const std::string& text) {
    GUri* uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr) return std::nullopt;
    const char* host = g_uri_get_host(uri);
    std::optional<std::string> result;
    if (host != nullptr && *host != '\0') result = host;
    g_uri_unref(uri);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(asText(data, size));
    platform::NavigationAction action;
    action.type = platform::NavigationType::LinkActivated;
    action.url = url;
    const auto decision = decideNavigationAction(action, kOrigin);
    FUZZ_CHECK((decision.policy == NavigationActionPolicy::Cancel) == decision.openExternally.has_value());
    if (decision.openExternally) FUZZ_CHECK(*decision.openExternally == url);
    if (decision.policy == NavigationActionPolicy::Allow) {
        const auto ours = hostOf(url);
        FUZZ_CHECK(ours ? isOwnHost(*ours) : !hasAuthority(url));
        if (url.find('\0') == std::string::npos) {
            const auto theirs = glibHost(url);
            FUZZ_CHECK(!theirs || isOwnHost(*theirs));
        }
    }
    if (isSafeToOpenExternally(url)) {
        const auto parsed = Url::parse(url);
        FUZZ_CHECK(parsed && (parsed->scheme() == "http" || parsed->scheme() == "https" || parsed->scheme() == "mailto"));
    }
    action.shouldPerformDownload = true;
    FUZZ_CHECK(decideNavigationAction(action, kOrigin).policy == NavigationActionPolicy::Download);
    return 0;
}
