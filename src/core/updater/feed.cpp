#include "feed.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/util/text.h"
#include "core/util/url.h"
#include "failure.h"
#include "feed_signature.h"
#include "pipeline.h"
#include "release_notes.h"
#include "version.h"

namespace corvidale::updater {
namespace {

// A feed is one flat object; a little room is left for keys it may gain.
constexpr int kMaxFeedDepth = 16;

[[noreturn]] void unreadable() { throw Failure::feed("unreadable"); }

// The document, refused as soon as it nests deeper than a feed ever does:
// nothing recursive (turning a value into text, copying it) may ever meet a
// document as deep as its sender liked.
nlohmann::json parseDocument(const std::string& body) {
    bool tooDeep = false;
    auto document = nlohmann::json::parse(
        body,
        [&tooDeep](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            tooDeep = tooDeep || depth > kMaxFeedDepth;
            return !tooDeep;
        },
        /*allow_exceptions=*/false);
    if (tooDeep || document.is_discarded() || !document.is_object()) unreadable();
    return document;
}

// Where the image may come from: the web, or this machine only when the feed
// itself was read from it (as a redirect could never lead there).
bool isImageScheme(const Url& image, const Url& feed) {
    return image.scheme() == "http" || image.scheme() == "https" ||
           (image.scheme() == "file" && feed.scheme() == "file");
}

// The text a JSON value reads as where a build number is expected: a number
// in its plain decimal form (42 as "42", 42.0 as "42", 42.5 as "42.5"), a
// string as it is. Anything else gives text that is not a number.
std::string buildText(const nlohmann::json* value) {
    if (value == nullptr) return {};
    if (value->is_string()) return value->get<std::string>();
    // (Unsigned first: the library counts unsigned numbers as integers too.)
    if (value->is_number_unsigned()) return std::to_string(value->get<std::uint64_t>());
    if (value->is_number_integer()) return std::to_string(value->get<std::int64_t>());
    if (value->is_number_float()) {
        const double number = value->get<double>();
        // Beyond 2^53 a double no longer stands for one integer.
        if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) <= 9007199254740992.0) {
            return std::to_string(static_cast<std::int64_t>(number));
        }
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", number);
        return text;
    }
    // Anything else is no number, whatever its shape.
    return {};
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::string requiredString(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value == nullptr || !value->is_string()) unreadable();
    return value->get<std::string>();
}

// A rollout that can't be read is kept as such: it holds the release back
// from automatic installs rather than send it to everyone at once.
Rollout readRollout(const nlohmann::json* value) {
    if (value == nullptr) return {};
    Rollout rollout{Rollout::Form::Malformed};
    const auto* start = value->is_object() ? member(*value, "start") : nullptr;
    const auto* hours = value->is_object() ? member(*value, "hours") : nullptr;
    const auto when = start != nullptr && start->is_string() ? parseUTCTime(start->get<std::string>()) : std::nullopt;
    // (The reader keeps every whole number from 0 up as unsigned.)
    if (!when || hours == nullptr || !hours->is_number_unsigned()) return rollout;
    const std::uint64_t count = hours->get<std::uint64_t>();
    if (count < 1 || count > static_cast<std::uint64_t>(kMaxRolloutHours)) return rollout;
    return {Rollout::Form::Valid, *when, static_cast<std::int64_t>(count)};
}

// Deltas only save a download: one that can't be read is left out, and the
// installation takes the full image.
std::vector<Delta> readDeltas(const nlohmann::json* list, const Url& base) {
    std::vector<Delta> deltas;
    if (list == nullptr || !list->is_array()) return deltas;
    for (const auto& entry : *list) {
        if (deltas.size() == kMaxDeltas) break;
        const auto* from = entry.is_object() ? member(entry, "from") : nullptr;
        const auto* file = entry.is_object() ? member(entry, "file") : nullptr;
        const auto* sha256 = entry.is_object() ? member(entry, "sha256") : nullptr;
        if (from == nullptr || file == nullptr || !file->is_string() || sha256 == nullptr || !sha256->is_string()) continue;
        const auto build = parseDecimal(buildText(from));
        const auto url = base.resolve(file->get_ref<const std::string&>());
        if (!build || !url || !isImageScheme(*url, base)) continue;
        deltas.push_back({*build, url->text(), sha256->get<std::string>()});
    }
    return deltas;
}

// Why a bundle that requires a signed feed refuses these bytes, before they
// are read at all; nothing when the pinned keys signed them.
std::optional<std::string> signatureRefusal(std::string_view body, const FeedTrust& trust) {
    switch (checkFeedSignature(body, trust.signature, trust.pins)) {
        case FeedSignature::Good: return std::nullopt;
        case FeedSignature::Missing: return "its signature is missing";
        case FeedSignature::Wrong: return "its signature is wrong (malformed, or not of these bytes)";
        case FeedSignature::Unpinned: break;
    }
    return "it is not signed by enough of the pinned keys";
}

// A signed feed says until when it may be believed: a server that goes on
// serving an old one cannot hold the clients on an old build for ever.
std::optional<std::string> expiryRefusal(const nlohmann::json* expires, std::int64_t now) {
    const auto until = expires != nullptr && expires->is_string() ? parseUTCTime(expires->get<std::string>())
                                                                  : std::nullopt;
    if (!until) return "it has no readable \"expires\" time";
    if (now >= *until) return "it expired at " + expires->get<std::string>();
    return std::nullopt;
}

}  // namespace

bool requiresSignedFeed(const platform::Bundle& bundle, TargetSystem system) {
    if (system == TargetSystem::Mac) return false;
    const auto value = bundle.infoValue(kRequireSignedFeedKey);
    return value && !(value->kind == platform::PlistValue::Kind::String && value->text == "NO");
}

std::string builtInFeedURL(TargetSystem system) {
    return system == TargetSystem::Mac ? "https://corvidale.com/downloads/mac.json"
                                       : "https://corvidale.com/downloads/linux.json";
}

std::optional<std::string> feedURL(const std::optional<std::string>& updateFeedDefault,
                                   const std::optional<std::string>& bundleIdentifier, TargetSystem system) {
    if (updateFeedDefault && Url::parse(*updateFeedDefault)) return *updateFeedDefault;
    if (bundleIdentifier == platform::kShellBundleIdentifier) return builtInFeedURL(system);
    return std::nullopt;
}

std::optional<std::string> feedURL(platform::Platform& platform) {
    return feedURL(platform.defaults().string("updateFeed"), platform.bundle().bundleIdentifier());
}

std::optional<Release> readFeed(const platform::URLResponse& response, std::string_view feedURL,
                                const RunningApp& running, const FeedTrust& trust, std::string* refusal) {
    if (response.exceededMaxBytes) unreadable();
    if (response.isHTTP && response.statusCode != 200) unreadable();
    const auto refuse = [refusal](const std::optional<std::string>& why) {
        if (!why) return;
        if (refusal != nullptr) *refusal = "update feed refused: " + *why;
        unreadable();
    };
    if (trust.required) refuse(signatureRefusal(response.body, trust));

    const auto document = parseDocument(response.body);
    if (trust.required) refuse(expiryRefusal(member(document, "expires"), trust.now));

    Release release;
    release.version = requiredString(document, "version");
    // It reaches the window title, alerts and the self-test line as it is.
    if (hasControlCharacter(release.version)) unreadable();
    const auto build = parseDecimal(buildText(member(document, "build")));
    if (!build) unreadable();
    release.build = *build;
    const auto file = requiredString(document, "file");
    release.sha256 = requiredString(document, "sha256");

    // Relative to where the feed was found in the end, after redirects.
    const auto base = Url::parse(response.url.empty() ? feedURL : std::string_view(response.url));
    const auto image = base ? base->resolve(file) : std::nullopt;
    if (!image || !isImageScheme(*image, *base)) unreadable();
    release.imageURL = image->text();

    if (const auto* bundleId = member(document, "bundleId"); bundleId != nullptr && bundleId->is_string()) {
        if (!running.bundleIdentifier || bundleId->get<std::string>() != *running.bundleIdentifier) {
            throw Failure::feed("it is for another app");
        }
    }

    // The notes are only ever shown: a feed is never unreadable for them.
    if (const auto* notes = member(document, "notes"); notes != nullptr && notes->is_string()) {
        release.notes = plainNotes(notes->get_ref<const std::string&>());
    }

    if (!isNewer(release.build, running.build)) return std::nullopt;
    release.rollout = readRollout(member(document, "rollout"));
    release.deltas = readDeltas(member(document, "deltas"), *base);
    return release;
}

std::optional<Release> fetchNewerRelease(platform::URLSession& session, const std::optional<std::string>& feedURL,
                                         const RunningApp& running, FeedTrust trust, std::string* refusal) {
    if (!feedURL) throw Failure::feed("this build has no update feed");
    const platform::URLRequest request{*feedURL, platform::CachePolicy::ReloadIgnoringLocalCacheData,
                                       kFeedTimeoutSeconds};
    auto result = session.data(request, kMaxFeedBytes);
    if (result.error) throw TransportError(*result.error);
    if (trust.required) {
        const platform::URLRequest signatureRequest{feedSignatureURL(*feedURL),
                                                    platform::CachePolicy::ReloadIgnoringLocalCacheData,
                                                    kFeedTimeoutSeconds};
        auto signature = session.data(signatureRequest, kMaxFeedSignatureBytes);
        // However it failed to come, it is not there.
        if (!signature.error && !signature.response.exceededMaxBytes &&
            (!signature.response.isHTTP || signature.response.statusCode == 200)) {
            trust.signature = std::move(signature.response.body);
        }
    }
    return readFeed(result.response, *feedURL, running, trust, refusal);
}

void checkForNewerRelease(platform::Platform& platform, std::function<void(CheckOutcome)> done,
                  std::optional<std::int64_t> installedBuild) {
    auto feed = feedURL(platform);
    RunningApp running{platform.bundle().bundleIdentifier(),
                       std::max(currentBuild(platform.bundle()), installedBuild.value_or(INT64_MIN))};
    FeedTrust trust{requiresSignedFeed(platform.bundle()), pinnedSigners(platform.bundle()),
                    platform.secondsSince1970(), std::nullopt};
    auto& session = platform.urlSession();
    auto& process = platform.process();
    auto fetch = [&session, feed = std::move(feed), running = std::move(running), trust = std::move(trust)]() mutable {
        CheckOutcome outcome;
        std::string refusal;
        try {
            outcome.release = fetchNewerRelease(session, feed, running, std::move(trust), &refusal);
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return std::pair(std::move(outcome), std::move(refusal));
    };
    // Why a signed feed was refused goes to the log once the check is back.
    platform::runInBackgroundThenPost(platform, std::move(fetch), [&process, done = std::move(done)](auto result) mutable {
        if (!result.second.empty()) process.systemLog(result.second);
        done(std::move(result.first));
    });
}

}  // namespace corvidale::updater
