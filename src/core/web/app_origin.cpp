#include "app_origin.h"

#include "core/util/curl_url.h"
#include "core/util/text.h"

#include <charconv>

namespace corvidale {
namespace {

// The written port, or the scheme's default; nullopt when it is no port.
std::optional<std::uint16_t> effectivePort(const Url& url) {
    if (!url.port()) return defaultPort(url.scheme());
    const auto& text = *url.port();
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// `url` with its scheme in small letters and its host in the engine's form.
std::optional<std::string> engineForm(const Url& url) {
    CurlUrl handle(curl_url());
    if (!handle) return std::nullopt;
    const std::string text = url.scheme() + url.text().substr(url.writtenScheme().size());
    if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return std::nullopt;
    if (curl_url_set(handle.get(), CURLUPART_HOST, url.canonicalHost()->c_str(), 0) != CURLUE_OK) return std::nullopt;
    char* raw = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK || raw == nullptr) return std::nullopt;
    std::string result(raw);
    curl_free(raw);
    return result;
}

}  // namespace

std::uint16_t defaultPort(std::string_view scheme) {
    if (scheme == "https") return 443;
    if (scheme == "http") return 80;
    return 0;
}

std::optional<AppOrigin> AppOrigin::parse(std::string_view text) {
    const auto url = Url::parse(text);
    if (!url || url->scheme() != "https" || !url->canonicalHost()) return std::nullopt;
    const auto port = effectivePort(*url);
    auto loadable = engineForm(*url);
    if (!port || !loadable) return std::nullopt;

    AppOrigin origin;
    origin.scheme_ = url->scheme();
    origin.host_ = *url->canonicalHost();
    origin.port_ = *port;
    origin.serialized_ = origin.scheme_ + "://" + origin.host_;
    if (origin.port_ != defaultPort(origin.scheme_)) origin.serialized_ += ":" + std::to_string(origin.port_);
    origin.url_ = std::move(*loadable);
    return origin;
}

bool AppOrigin::ownsURL(std::string_view url) const {
    const auto parsed = Url::parse(url);
    return parsed && ownsURL(*parsed);
}

bool AppOrigin::ownsURL(const Url& url) const {
    if (!url.canonicalHost()) return false;
    const auto port = effectivePort(url);
    return port && ownsOrigin(url.scheme(), *url.canonicalHost(), *port);
}

bool AppOrigin::ownsHost(std::string_view host) const { return !host.empty() && asciiLower(std::string(host)) == host_; }

bool AppOrigin::ownsOrigin(std::string_view scheme, std::string_view host, int port) const {
    const auto lowerScheme = asciiLower(std::string(scheme));
    if (port == 0) port = defaultPort(lowerScheme);
    return lowerScheme == scheme_ && port == port_ && ownsHost(host);
}

}  // namespace corvidale
