#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/platform.h"
#include "rollout.h"
#include "signing_pins.h"
#include "target_system.h"

namespace corvidale::updater {

// A way to the release from one earlier build: what changed since it. Only
// an installation of exactly that build can use it.
struct Delta {
    std::int64_t from = 0;
    std::string url;     // absolute
    std::string sha256;  // as published
};
// A feed's list is read no further than this.
inline constexpr std::size_t kMaxDeltas = 64;

// One published release.
struct Release {
    std::string version;  // shown, never compared
    std::int64_t build = 0;
    std::string imageURL;      // absolute URL of the image
    std::string sha256;   // as published
    std::optional<std::string> notes{};  // plain text, cleaned; nothing when the feed has none worth showing
    Rollout rollout{};    // automatic checks only
    std::vector<Delta> deltas{};  // the readable ones
};

// The running application, as the feed is checked against it.
struct RunningApp {
    std::optional<std::string> bundleIdentifier;
    std::int64_t build = 0;
};

// What a bundle built to require a signed feed asks of it: a signature by the
// pinned keys over its exact bytes, and an "expires" time still ahead.
struct FeedTrust {
    bool required = false;
    std::optional<SigningPins> pins;
    std::int64_t now = 0;                  // seconds since 1970
    std::optional<std::string> signature;  // as fetched; none when missing
};

// Info.plist key: "NO" (or absent) takes any feed, any other value only a
// signed one. macOS always takes the feed its https connection gives.
inline constexpr const char* kRequireSignedFeedKey = "CorvidaleRequireSignedFeed";
bool requiresSignedFeed(const platform::Bundle& bundle, TargetSystem system = kThisSystem);

// A feed larger than this is not an update feed.
inline constexpr std::uint64_t kMaxFeedBytes = 1024 * 1024;
inline constexpr double kFeedTimeoutSeconds = 60.0;

std::string builtInFeedURL(TargetSystem system = kThisSystem);

// The `updateFeed` default when it is a URL (any scheme), else the built-in
// feed for the shell's own bundle identifier only, else none.
std::optional<std::string> feedURL(const std::optional<std::string>& updateFeedDefault,
                                   const std::optional<std::string>& bundleIdentifier,
                                   TargetSystem system = kThisSystem);
// The same, read afresh from the user defaults and the main bundle.
std::optional<std::string> feedURL(platform::Platform& platform);

// Validates a fetched feed: the release it publishes when that is newer than
// the running build, nothing when it is not. Throws Failure::feed; a feed
// refused for its signature or its age is "unreadable", and `refusal` (when
// given) says why.
std::optional<Release> readFeed(const platform::URLResponse& response, std::string_view feedURL,
                                const RunningApp& running, const FeedTrust& trust = {},
                                std::string* refusal = nullptr);

// Fetches the feed (no cache, 60 s), and its signature when the trust asks
// for one, and validates them. Blocks: worker thread only. Throws
// Failure::feed, or TransportError as the session reported it.
std::optional<Release> fetchNewerRelease(platform::URLSession& session, const std::optional<std::string>& feedURL,
                                         const RunningApp& running, FeedTrust trust = {},
                                         std::string* refusal = nullptr);

struct CheckOutcome {
    std::optional<Release> release;  // a newer release
    std::exception_ptr error;        // set when the check failed
};

// One check, from the main thread: gathers what it needs there, fetches on a
// worker, and answers through the main queue, always exactly once. A build
// installed since launch (`installedBuild`) counts as the running one: the
// bundle's own Info.plist still names the build that was started.
void checkForNewerRelease(platform::Platform& platform, std::function<void(CheckOutcome)> done,
                  std::optional<std::int64_t> installedBuild = std::nullopt);

}  // namespace corvidale::updater
