#pragma once

#include "core/platform/url_session.h"

namespace corvidale::mac {

// The system's shared URL session, so that its trust settings, proxies and
// credentials apply. Each call gives its task a delegate of its own, which
// enforces the caller's limits while the body arrives, and waits for it.
class SharedURLSession final : public platform::URLSession {
public:
    platform::URLResult data(const platform::URLRequest& request, std::uint64_t maxBytes) override;
    platform::URLResult download(const platform::URLRequest& request, const platform::DownloadLimits& limits,
                                 const std::string& folder = {}) override;
};

}  // namespace corvidale::mac
