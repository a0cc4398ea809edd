#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "completion.h"
#include "error.h"

namespace corvidale::platform {

using DownloadId = std::uint64_t;

class DownloadDelegate;

// A running download. The backend gives each one an id unique for the life of
// the process; the id is the download's identity.
class Download {
public:
    virtual ~Download() = default;
    virtual DownloadId id() const = 0;
    virtual void setDelegate(DownloadDelegate* delegate) = 0;
    // The length the server declared for the body, when it declared one the
    // engine writes as is (no content coding), and the bytes written so far.
    virtual std::optional<std::uint64_t> expectedLength() const { return std::nullopt; }
    virtual std::uint64_t receivedLength() const { return 0; }
    // Stops it; the engine then reports it failed, or nothing if it had not
    // asked for a destination yet.
    virtual void cancel() = 0;
};

class DownloadDelegate {
public:
    virtual ~DownloadDelegate() = default;
    // Answers the destination path, or nullopt to decline the download.
    virtual void decideDestination(Download& download, const std::string& suggestedFilename,
                                   Completion<std::optional<std::string>> completionHandler) = 0;
    virtual void downloadDidFinish(Download& download) = 0;
    virtual void downloadDidFail(Download& download, const Error& error) = 0;
};

}  // namespace corvidale::platform
