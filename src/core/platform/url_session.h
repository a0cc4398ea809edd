#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "error.h"
#include "request.h"

namespace corvidale::platform {

// What came back for one request that reached its server (or its file).
struct URLResponse {
    // Only an HTTP response has a status; a file: URL answers without one.
    bool isHTTP = false;
    int statusCode = 0;
    // The response was longer than the caller allowed: nothing of it is kept.
    bool exceededMaxBytes = false;
    // data(): the whole body.
    std::string body;
    // download(): the temporary file holding the body. From the moment it is
    // returned it is the caller's to move or delete.
    std::string filePath;
    // Where the body came from in the end, after every redirect: what a
    // relative reference in it is relative to. Empty when the session cannot
    // tell.
    std::string url;
};

// Either a transport error (no connection, timeout, TLS refused, a redirect
// to a scheme other than http or https) with the system's own text, or a
// response.
struct URLResult {
    std::optional<Error> error;
    URLResponse response;
};

struct DownloadLimits {
    std::uint64_t maxBytes = 0;  // 0: no limit
    // A transfer slower than this many bytes a second for this many seconds
    // counts as broken off (a transport error). 0 bytes: no such rule.
    std::uint64_t minBytesPerSecond = 0;
    double stallSeconds = 0;
    // However steadily it moves, the whole transfer may take `graceSeconds`
    // plus its announced size at `minAverageBytesPerSecond`, and never more
    // than `maxSeconds`, which is all a body of no announced size gets.
    // `maxSeconds` 0: no deadline.
    double graceSeconds = 0;
    std::uint64_t minAverageBytesPerSecond = 0;
    double maxSeconds = 0;

    // How long a transfer of `size` bytes (nullopt: not announced) may take
    // from its start; 0 for no deadline.
    double secondsFor(std::optional<std::uint64_t> size) const {
        if (!(maxSeconds > 0)) return 0;
        if (!size || minAverageBytesPerSecond == 0) return maxSeconds;
        const double atMinimum = static_cast<double>(*size) / static_cast<double>(minAverageBytesPerSecond);
        return std::min(maxSeconds, graceSeconds + atMinimum);
    }
};

// Who watches a download: told how far it is from the thread that runs it,
// each time more has come, and able to end it (answering false), which the
// download then answers with an error like a transport error's.
struct DownloadWatch {
    std::function<bool(std::uint64_t received, std::optional<std::uint64_t> expected)> progress;
};

// GET requests, shaped like the system URL session: redirects are followed,
// TLS is verified against the system's trust, and file: URLs work too. Both
// calls block until the transfer ends, so they belong on a worker thread
// (Platform::runInBackground); they may be called from several at once.
class URLSession {
public:
    virtual ~URLSession() = default;
    // The body into memory, at most `maxBytes` of it; a longer one is cut off
    // while it arrives and answered with exceededMaxBytes. The request's
    // timeout bounds the whole transfer.
    virtual URLResult data(const URLRequest& request, std::uint64_t maxBytes) = 0;
    // The body into a fresh file in `folder` (empty: the temporary folder),
    // made there from the first byte on, so that whoever owns the folder owns
    // what a killed process leaves of it. The request's timeout bounds the
    // connection; `limits` bound the transfer. On a transport error or an
    // exceeded limit no file is left behind.
    virtual URLResult download(const URLRequest& request, const DownloadLimits& limits,
                               const std::string& folder = {}, const DownloadWatch& watch = {}) = 0;
};

}  // namespace corvidale::platform
