// Links of the application's scheme, as any program may hand them over. What
// the shell opens is read again by GLib's parser, and must be a page of the
// origin there too: same scheme, host and port, and the path the shell built
// (GLib drops dot segments, so there are none), naming no host.
#include <glib.h>

#include <string>

#include "core/web/deep_link.h"
#include "fuzz.h"

using namespace corvidale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto origin = *AppOrigin::parse("https://app.example.com:8443");
    const auto decision = resolveDeepLink(asText(data, size), "corvidale", origin);
    FUZZ_CHECK(decision.url.has_value() == decision.refusal.empty());
    if (!decision.url) return 0;
    const std::string& url = *decision.url;
    const std::string server = "https://app.example.com:8443";
    FUZZ_CHECK(size <= kMaxDeepLinkLength && url.rfind(server + "/", 0) == 0);
    const std::string ours = url.substr(server.size(), url.find_first_of("?#") - server.size());
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_ENCODED, nullptr);
    FUZZ_CHECK(uri != nullptr);
    FUZZ_CHECK(g_strcmp0(g_uri_get_scheme(uri), "https") == 0 && g_uri_get_port(uri) == 8443);
    FUZZ_CHECK(g_strcmp0(g_uri_get_host(uri), "app.example.com") == 0 && g_uri_get_userinfo(uri) == nullptr);
    // GLib writes unreserved characters decoded ("%2e" as "."): compared decoded.
    g_autofree char* path = g_uri_unescape_string(ours.c_str(), nullptr);
    g_autofree char* theirs = g_uri_unescape_string(g_uri_get_path(uri), nullptr);
    g_uri_unref(uri);
    FUZZ_CHECK(path != nullptr && g_strcmp0(path, theirs) == 0);
    FUZZ_CHECK(path[1] != '/' && std::string(path).find('\\') == std::string::npos);
    return 0;
}
