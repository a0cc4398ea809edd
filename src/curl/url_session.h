#pragma once

#include <optional>
#include <string>

#include "core/platform/url_session.h"

namespace corvidale::curl {

// The URL session on libcurl. Trusts the system's CA bundle; a test may name
// another bundle. Proxies come from the usual environment variables.
class CurlURLSession final : public platform::URLSession {
public:
    explicit CurlURLSession(std::optional<std::string> caBundle = std::nullopt);

    platform::URLResult data(const platform::URLRequest& request, std::uint64_t maxBytes) override;
    platform::URLResult download(const platform::URLRequest& request, const platform::DownloadLimits& limits,
                                 const std::string& folder = {}, const platform::DownloadWatch& watch = {}) override;

private:
    std::optional<std::string> caBundle_;
};

}  // namespace corvidale::curl
