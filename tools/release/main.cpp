// corvidale-release: the release-side helpers that scripts/publish.sh and the
// tests use. It reads and edits a bundle's Info.plist with libplist and writes
// the update feed with a real JSON writer.

#include <fcntl.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "codesign/keys.h"
#include "codesign/manifest.h"
#include "codesign/seal.h"
#include "common/fs.h"
#include "delta_command.h"
#include "core/util/digest.h"
#include "core/util/plist_bounds.h"
#include "core/updater/feed_signature.h"
#include "core/updater/rollout.h"
#include "core/updater/signing_pins.h"
#include "core/util/text.h"

namespace corvidale::tools {
namespace {

constexpr const char* kUsage =
    "usage: corvidale-release info <bundle> <key>\n"
    "       corvidale-release set-info <bundle> <key>=<value>...\n"
    "       corvidale-release feed [--republish] [--new-key] [--rollout-hours N [--rollout-start <UTC time>]]\n"
    "                              [--expires-days N [--sign-feed <private key PEM>]...] [--notes <text file>]\n"
    "                              [--delta <from build> <delta file>]... <bundle> <image> <feed file to write>\n"
    "       corvidale-release delta --from <old image> --to <new image> -o <file>\n";
constexpr const char* kVersionKey = "CFBundleShortVersionString";
constexpr const char* kBuildKey = "CFBundleVersion";
constexpr const char* kPinKey = "CorvidaleTeamIdentifier";

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Plist = std::unique_ptr<void, PlistFree>;

std::string infoPath(const std::string& bundle) { return withoutTrailingSlashes(bundle) + "/Contents/Info.plist"; }

Plist readInfo(const std::string& bundle) {
    const std::string bytes = readSmallFile(AT_FDCWD, infoPath(bundle), corvidale::kMaxPlistBytes);
    // libplist recurses into what it parses: nothing nested past the bounds
    // reaches it.
    if (!corvidale::plistWithinBounds(bytes)) throw ToolError("the bundle's Info.plist is too large or nested too deeply");
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    Plist info(root);
    if (!info || plist_get_node_type(root) != PLIST_DICT) throw ToolError("unreadable Info.plist in the bundle");
    return info;
}

std::optional<std::string> infoString(const Plist& info, const std::string& key) {
    plist_t node = plist_dict_get_item(static_cast<plist_t>(info.get()), key.c_str());
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    char* raw = nullptr;
    plist_get_string_val(node, &raw);
    std::string value = raw != nullptr ? raw : "";
    std::free(raw);
    return value;
}

std::string requireString(const Plist& info, const std::string& key) {
    auto value = infoString(info, key);
    if (!value) throw ToolError("the bundle's Info.plist has no string " + key);
    return *value;
}

// The texts every client refuses, refused here too: a version with control
// characters (the clients read the whole feed as unreadable), a build that is
// no whole number (they find no build number in the app).
void checkInfoValue(const std::string& key, const std::string& value) {
    if (key == kVersionKey && hasControlCharacter(value)) {
        throw ToolError(std::string(kVersionKey) + " must not hold control characters, as \"" + encodeName(value) +
                        "\" does: every client would refuse it");
    }
    if (key == kBuildKey && (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos)) {
        throw ToolError(std::string(kBuildKey) + " must be a whole number, not \"" + encodeName(value) + "\"");
    }
}

int printInfo(const std::string& bundle, const std::string& key) {
    std::printf("%s\n", requireString(readInfo(bundle), key).c_str());
    return 0;
}

// Written beside the old file and renamed over it, so that a failure leaves
// the old Info.plist whole.
int setInfo(const std::string& bundle, const std::vector<std::string>& assignments) {
    Plist info = readInfo(bundle);
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) throw UsageError("expected <key>=<value>");
        checkInfoValue(assignment.substr(0, equals), assignment.substr(equals + 1));
        plist_dict_set_item(static_cast<plist_t>(info.get()), assignment.substr(0, equals).c_str(),
                            plist_new_string(assignment.substr(equals + 1).c_str()));
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(static_cast<plist_t>(info.get()), &xml, &length);
    if (xml == nullptr) throw ToolError("cannot write Info.plist");
    const std::string text(xml, length);
    plist_to_xml_free(xml);

    const std::string path = infoPath(bundle);
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    writeNewFile(AT_FDCWD, temporary, text, 0644);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw ToolError("cannot replace Info.plist");
    }
    return 0;
}

// The feed names the image relative to itself, so both must be published
// side by side.
std::string urlPathSegment(const std::string& name) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            out.push_back(c);
        } else {
            out += {'%', kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
    }
    return out;
}

struct FeedOptions {
    // Publish a build again with other bytes than the live feed names.
    bool republish = false;
    // The release is signed with the key the clients pin today and pins a new one.
    bool newKey = false;
    // A staged rollout: its length in hours (0: none) and its start.
    std::int64_t rolloutHours = 0;
    std::string rolloutStart;
    // How long clients that require a signed feed believe it (0: no
    // "expires"), and the keys that sign it.
    std::int64_t expiresDays = 0;
    std::vector<std::string> feedKeys;
    // The release's notes, as the file gives them (empty: none).
    std::string notes;
    // Deltas to this release: the build each is from and its file.
    std::vector<std::pair<std::string, std::string>> deltas;
};

std::string utcTime(std::time_t when) {
    std::tm parts{};
    char text[32];
    if (::gmtime_r(&when, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        throw ToolError("cannot tell the time");
    }
    return text;
}

// The rollout as clients read it; what they would refuse is refused here.
void readRolloutOptions(FeedOptions& options, const std::string& hours, const std::string& start) {
    if (hours.empty()) {
        if (!start.empty()) throw UsageError("--rollout-start needs --rollout-hours");
        return;
    }
    const bool digits = hours.size() <= 3 && hours.find_first_not_of("0123456789") == std::string::npos;
    options.rolloutHours = digits ? std::stoll(hours) : 0;
    if (options.rolloutHours < 1 || options.rolloutHours > corvidale::updater::kMaxRolloutHours) {
        throw UsageError("--rollout-hours takes a whole number from 1 to 720");
    }
    options.rolloutStart = start.empty() ? utcTime(std::time(nullptr)) : start;
    if (!corvidale::updater::parseUTCTime(options.rolloutStart)) {
        throw UsageError("--rollout-start takes a UTC time such as 2027-01-15T08:00:00Z");
    }
}

std::string joined(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "" : ",") + id;
    return text;
}

// The keys the bundle is signed with must be enough of the keys it pins, as
// the clients that run the previous release pin them: otherwise every client
// refuses it. A bundle that pins no usable set would, once installed, refuse
// every update after it.
void checkSigningKey(const std::string& bundle, const Plist& info, const FeedOptions& options) {
    const std::string pin = infoString(info, kPinKey).value_or("");
    if (pin.empty()) {
        throw ToolError(std::string("the bundle pins no signing key (") + kPinKey +
                        " is empty): once installed, it would take no update ever again");
    }
    const auto threshold = infoString(info, corvidale::updater::kSigningThresholdKey);
    const auto pins = corvidale::updater::parsePins(pin, threshold);
    if (!pins) {
        throw ToolError(std::string(kPinKey) + " \"" + encodeName(pin) + "\" and " +
                        corvidale::updater::kSigningThresholdKey + " \"" + encodeName(threshold.value_or("1")) +
                        "\" are no set of key ids and a threshold from 1 to their count: once installed, the bundle "
                        "would take no update ever again");
    }
    std::vector<std::string> signers;
    try {
        signers = signerIds(readSeal(openDirectory(AT_FDCWD, withoutTrailingSlashes(bundle)).get()));
    } catch (const PosixError&) {
        throw ToolError("the bundle is not signed");
    }
    if (corvidale::updater::pinnedAmong(*pins, signers) < pins->threshold && !options.newKey) {
        throw ToolError("the bundle is signed with key " + joined(signers) + " but pins key " + encodeName(pin) +
                        " with a threshold of " + std::to_string(pins->threshold) +
                        ": the clients that pin it would refuse the release (--new-key publishes one that is "
                        "signed with the keys they pin and moves them to new ones)");
    }
}

// Republishing a build that the live feed names must give the same bytes,
// unless asked for: clients that read the live feed fetch its image.
void checkRepublish(const std::string& feed, const std::string& build, const std::string& digest,
                    const FeedOptions& options) {
    std::string text;
    try {
        text = readSmallFile(AT_FDCWD, feed, 1024 * 1024);
    } catch (const PosixError& error) {
        if (error.errorNumber() == ENOENT) return;
        throw;
    }
    const auto live = nlohmann::json::parse(text, nullptr, false);
    if (options.republish || !live.is_object() || !live.contains("build")) return;
    const auto& published = live["build"];
    const bool same = published == std::stoll(build) || published == build;
    if (same && live.value("sha256", std::string()) != digest) {
        throw ToolError("build " + build + " is already published with other bytes; --republish replaces it");
    }
}

// Whole or not at all: a file that cannot be written leaves the old one.
void replaceFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    try {
        writeNewFile(AT_FDCWD, temporary, text, 0644);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        throw ToolError("cannot replace " + encodeName(path) + ": " + reason);
    }
}

// One line per key: its raw public key and its signature of the exact bytes.
std::string feedSignature(const std::string& text, const FeedOptions& options) {
    std::string lines;
    for (const std::string& path : options.feedKeys) {
        const Key key = privateKeyFromPem(readSmallFile(AT_FDCWD, path, 64 * 1024, true));
        const std::string signature = sign(key.get(), text);
        lines += rawPublicKeyHex(key.get()) + " " +
                 corvidale::toHex(reinterpret_cast<const unsigned char*>(signature.data()), signature.size()) + "\n";
    }
    return lines;
}

int writeFeed(const std::string& bundle, const std::string& image, const std::string& feed,
              const FeedOptions& options) {
    const Plist info = readInfo(bundle);
    const std::string build = requireString(info, kBuildKey), version = requireString(info, kVersionKey);
    checkInfoValue(kBuildKey, build);
    checkInfoValue(kVersionKey, version);
    checkSigningKey(bundle, info, options);
    const std::size_t slash = image.rfind('/');
    const std::string imageName = slash == std::string::npos ? image : image.substr(slash + 1);
    const std::size_t feedSlash = feed.rfind('/');
    const std::string imageDir = slash == std::string::npos ? "." : image.substr(0, slash);
    const std::string feedDir = feedSlash == std::string::npos ? "." : feed.substr(0, feedSlash);
    if (imageDir != feedDir) throw ToolError("the image and the feed must be in the same folder");

    nlohmann::ordered_json document;
    document["version"] = version;
    document["build"] = std::stoll(build);
    document["file"] = urlPathSegment(imageName);
    document["sha256"] = sha256HexOfFile(image);
    document["bundleId"] = requireString(info, "CFBundleIdentifier");
    if (options.expiresDays > 0) document["expires"] = utcTime(std::time(nullptr) + options.expiresDays * 86400);
    if (options.rolloutHours > 0) {
        document["rollout"] = {{"start", options.rolloutStart}, {"hours", options.rolloutHours}};
    }
    if (!options.notes.empty()) document["notes"] = options.notes;
    for (const auto& [from, file] : options.deltas) {
        const std::size_t cut = file.rfind('/');
        if ((cut == std::string::npos ? "." : file.substr(0, cut)) != feedDir) {
            throw ToolError("a delta and the feed must be in the same folder");
        }
        document["deltas"].push_back({{"from", std::stoll(from)},
                                      {"file", urlPathSegment(file.substr(cut == std::string::npos ? 0 : cut + 1))},
                                      {"sha256", sha256HexOfFile(file)}});
    }
    checkRepublish(feed, build, document["sha256"], options);
    std::string text;
    try {
        text = document.dump(2) + "\n";
    } catch (const nlohmann::json::exception&) {
        throw ToolError("the texts of the bundle's Info.plist are not UTF-8");
    }
    // The signature goes first: the feed is replaced last, in one rename.
    if (!options.feedKeys.empty()) replaceFile(feed + corvidale::updater::kFeedSignatureSuffix, feedSignature(text, options));
    replaceFile(feed, text);
    return 0;
}

// What clients show is cut at 16 KiB; a file far past that is no release note.
std::string readNotes(const std::string& path) {
    std::string notes = readSmallFile(AT_FDCWD, path, 64 * 1024, true);
    if (!isValidUtf8(notes)) throw ToolError("the notes in " + encodeName(path) + " are not UTF-8");
    return notes;
}

int runFeed(std::vector<std::string> args) {
    FeedOptions options;
    std::string hours, start, expires;
    while (!args.empty() && args[0].starts_with("--")) {
        const bool valued = args[0] == "--rollout-hours" || args[0] == "--rollout-start" ||
                            args[0] == "--expires-days" || args[0] == "--sign-feed" || args[0] == "--notes";
        if (valued && args.size() < 2) throw UsageError(args[0] + " needs a value");
        if (args[0] == "--delta") {
            const bool build = args.size() >= 3 && !args[1].empty() && args[1].size() <= 18 &&
                               args[1].find_first_not_of("0123456789") == std::string::npos;
            if (!build) throw UsageError("--delta needs <from build> <delta file>");
            options.deltas.emplace_back(args[1], args[2]);
            args.erase(args.begin(), args.begin() + 2);
        } else if (args[0] == "--republish") {
            options.republish = true;
        } else if (args[0] == "--new-key") {
            options.newKey = true;
        } else if (args[0] == "--sign-feed") {
            options.feedKeys.push_back(args[1]);
            args.erase(args.begin());
        } else if (args[0] == "--notes") {
            options.notes = readNotes(args[1]);
            args.erase(args.begin());
        } else if (args[0] == "--expires-days") {
            expires = args[1];
            args.erase(args.begin());
        } else if (valued) {
            (args[0] == "--rollout-hours" ? hours : start) = args[1];
            args.erase(args.begin());
        } else {
            throw UsageError("unknown option " + encodeName(args[0]));
        }
        args.erase(args.begin());
    }
    readRolloutOptions(options, hours, start);
    if (!expires.empty()) {
        const bool digits = expires.size() <= 4 && expires.find_first_not_of("0123456789") == std::string::npos;
        options.expiresDays = digits ? std::stoll(expires) : 0;
        if (options.expiresDays < 1 || options.expiresDays > 3650) throw UsageError("--expires-days takes 1 to 3650");
    }
    // Clients that require a signed feed refuse one without a time limit.
    if (!options.feedKeys.empty() && options.expiresDays == 0) throw UsageError("--sign-feed needs --expires-days");
    if (args.size() != 3) throw UsageError("feed needs <bundle> <image> <feed file>");
    return writeFeed(args[0], args[1], args[2], options);
}

int run(const std::vector<std::string>& args) {
    if (args.size() == 3 && args[0] == "info") return printInfo(args[1], args[2]);
    if (args.size() >= 3 && args[0] == "set-info") return setInfo(args[1], {args.begin() + 2, args.end()});
    if (!args.empty() && args[0] == "feed") return runFeed({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "delta") return runDelta({args.begin() + 1, args.end()});
    throw UsageError("unknown command");
}

}  // namespace
}  // namespace corvidale::tools

int main(int argc, char** argv) {
    using namespace corvidale::tools;
    return runMain("corvidale-release", kUsage, argc, argv, run);
}
