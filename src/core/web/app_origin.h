#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/util/url.h"

namespace corvidale {

// The web application's origin as the engine sees origins: scheme, host in
// the engine's form (ASCII lower case, international names in punycode) and
// port (the scheme's default when none is written). Parsed once from the
// launch configuration; every "is this the application's own?" asks it, so
// that no two places can answer differently.
class AppOrigin {
public:
    // Owns nothing: the origin of a run whose configuration names none, which
    // ends before anything is loaded.
    AppOrigin() = default;
    // nullopt unless `text` is an https URL with a host that has an engine form.
    static std::optional<AppOrigin> parse(std::string_view text);

    const std::string& scheme() const { return scheme_; }
    // The host in the engine's form.
    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    // "https://host" or "https://host:port" (the port only when it is not the
    // scheme's default), as origins are written in the engine's messages and
    // in stored permission lists.
    const std::string& serialized() const { return serialized_; }
    // The configured URL as the engine should load it: scheme in small
    // letters, host in its engine form, path and query as written.
    const std::string& url() const { return url_; }

    // Whether `url` is a hierarchical URL of this origin: same scheme, host
    // (compared in the engine's form) and port. Opaque URLs (blob:, data:,
    // about:) own no origin here.
    bool ownsURL(std::string_view url) const;
    bool ownsURL(const Url& url) const;
    // For the engine's calls that name only a host: whether `host`, written
    // as the engine writes hosts, is this origin's. Weaker than ownsURL: use
    // it only where the engine gives nothing more.
    bool ownsHost(std::string_view host) const;
    // An origin given as its parts, the way the engine's security origins
    // come (port 0: the scheme's default).
    bool ownsOrigin(std::string_view scheme, std::string_view host, int port) const;

private:
    std::string scheme_;
    std::string host_;
    std::uint16_t port_ = 0;
    std::string serialized_;
    std::string url_;
};

// The port a URL with `scheme` uses when it names none: 443 for https, 80
// for http, 0 when the scheme has no default here.
std::uint16_t defaultPort(std::string_view scheme);

}  // namespace corvidale
