#pragma once

#include "core/platform/url_session.h"

@class CVDSessionRouter;
@class NSURLSession;

namespace corvidale::mac {

// A URL session of the backend's own, with the default configuration, so
// that the system's trust settings, proxies and credentials apply. Its
// delegate hands each task's events to that call's transfer, which enforces
// the caller's limits while the body arrives; the call waits for it.
class MacURLSession final : public platform::URLSession {
public:
    MacURLSession();
    ~MacURLSession() override;
    MacURLSession(const MacURLSession&) = delete;
    MacURLSession& operator=(const MacURLSession&) = delete;

    platform::URLResult data(const platform::URLRequest& request, std::uint64_t maxBytes) override;
    platform::URLResult download(const platform::URLRequest& request, const platform::DownloadLimits& limits,
                                 const std::string& folder = {}, const platform::DownloadWatch& watch = {}) override;

private:
    CVDSessionRouter* router_ = nil;
    NSURLSession* session_ = nil;
};

}  // namespace corvidale::mac
