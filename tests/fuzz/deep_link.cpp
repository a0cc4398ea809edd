// Links of the application's scheme, as any program may hand them over. What
// the shell opens is read again by GLib's parser, and must be a page of the
// origin there too: same scheme, host and port, a path that names no host
// and climbs no folder.
#include <glib.h>

#include <string>

#include "core/web/deep_link.h"
#include "fuzz.h"

using namespace corvidale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto origin = *Url::parse("https://app.example.com:8443");
    const auto decision = resolveDeepLink(asText(data, size), "corvidale", origin);
    FUZZ_CHECK(decision.url.has_value() == decision.refusal.empty());
    if (!decision.url) return 0;
    FUZZ_CHECK(size <= kMaxDeepLinkLength && decision.url->find('\0') == std::string::npos);
    GUri* uri = g_uri_parse(decision.url->c_str(), G_URI_FLAGS_ENCODED, nullptr);
    FUZZ_CHECK(uri != nullptr);
    FUZZ_CHECK(g_strcmp0(g_uri_get_scheme(uri), "https") == 0 && g_uri_get_port(uri) == 8443);
    FUZZ_CHECK(g_strcmp0(g_uri_get_host(uri), "app.example.com") == 0 && g_uri_get_userinfo(uri) == nullptr);
    g_autofree char* path = g_uri_unescape_string(g_uri_get_path(uri), nullptr);
    FUZZ_CHECK(path != nullptr && path[0] == '/' && path[1] != '/' && std::string(path).find('\\') == std::string::npos);
    const std::string segments = std::string(path) + "/";
    FUZZ_CHECK(segments.find("/../") == std::string::npos && segments.find("/./") == std::string::npos);
    g_uri_unref(uri);
    return 0;
}
