#include "deep_link.h"

#include "core/util/text.h"
#include "core/util/url.h"

#include <algorithm>
#include <cctype>

namespace corvidale {
namespace {

// How much of a refused link the log shows.
constexpr std::size_t kShownLength = 200;

// Printable ASCII but the backslash, which browsers read as a slash: what a
// link handed over by a browser or mail program is written in.
bool isLinkCharacter(unsigned char c) { return c > 0x20 && c < 0x7f && c != '\\'; }

// Path, query and fragment of a link, as written. The decoded path is what
// the server and the page's router will see.
struct Pieces {
    std::string path;
    std::string decodedPath;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

std::string pathProblem(const Pieces& pieces) {
    const std::string& path = pieces.decodedPath;
    if (path.empty() || path.front() != '/') return "no path";
    if (path.rfind("//", 0) == 0) return "a path that names a host";
    if (path.find('\\') != std::string::npos) return "a backslash";
    if (asciiLower(pieces.path).find("%2f") != std::string::npos) return "an encoded slash";
    for (std::size_t begin = 1; begin <= path.size();) {
        const auto end = std::min(path.find('/', begin), path.size());
        const auto segment = path.substr(begin, end - begin);
        if (segment == "." || segment == "..") return "a dot segment";
        begin = end + 1;
    }
    return "";
}

// The parts of a link past "<scheme>://open", or why there are none to use.
std::string readPieces(const Url& link, Pieces& pieces) {
    if (!link.host() || asciiLower(*link.host()) != kDeepLinkHost) return "a host other than \"open\"";
    if (link.hasUserInfo()) return "a user name or password";
    if (link.port()) return "a port";
    if (!link.decodedPath()) return "an encoded control character";
    pieces.path = link.path().value_or("/");
    pieces.decodedPath = *link.decodedPath();
    pieces.query = link.query();
    pieces.fragment = link.fragment();
    for (auto* piece : {&pieces.query, &pieces.fragment}) {
        if (*piece && (*piece)->empty()) piece->reset();
    }
    return pathProblem(pieces);
}

// The origin with the link's path, query and fragment as written: a parser
// that puts the pieces in writes its own escapes ("%2F" becomes "%2f", which
// breaks a signed query). Kept only when it still names the origin's scheme,
// host and port.
std::optional<std::string> onOrigin(const AppOrigin& origin, const Pieces& pieces) {
    std::string url = origin.serialized() + pieces.path;
    if (pieces.query) url += "?" + *pieces.query;
    if (pieces.fragment) url += "#" + *pieces.fragment;
    if (!origin.ownsURL(url)) return std::nullopt;
    return url;
}

// A refused link as the log shows it: cut short, every byte readable.
std::string shown(std::string_view link) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char c : link.substr(0, kShownLength)) {
        if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            text += {'\\', 'x', kHex[c >> 4], kHex[c & 0xf]};
        }
    }
    if (link.size() > kShownLength) text += "… (" + std::to_string(link.size()) + " bytes)";
    return text;
}

// A "%" not followed by two hex digits: parsers part ways over what it means.
bool hasStrayPercent(std::string_view link) {
    for (auto at = link.find('%'); at != std::string_view::npos; at = link.find('%', at + 1)) {
        if (at + 2 >= link.size() || !std::isxdigit(static_cast<unsigned char>(link[at + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(link[at + 2]))) {
            return true;
        }
    }
    return false;
}

DeepLinkDecision refuse(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

DeepLinkDecision resolveDeepLink(std::string_view link, std::string_view scheme, const AppOrigin& origin) {
    // Before anything reads it: a link of a megabyte costs nothing to refuse.
    if (link.size() > kMaxDeepLinkLength) return refuse("longer than " + std::to_string(kMaxDeepLinkLength) + " bytes");
    if (!std::all_of(link.begin(), link.end(), isLinkCharacter)) return refuse("a character no link holds");
    if (hasStrayPercent(link)) return refuse("a % that encodes nothing");
    const std::string prefix = std::string(scheme) + "://";
    if (asciiLower(std::string(link.substr(0, prefix.size()))) != prefix) {
        return refuse("not a " + std::string(scheme) + ": link");
    }
    // Dot segments as written, so that they are refused, not resolved.
    // No path: an empty authority, which names no host at all.
    const auto parsed = Url::parse(link);
    if (!parsed || !parsed->path()) return refuse("not a URL");
    Pieces pieces;
    if (auto problem = readPieces(*parsed, pieces); !problem.empty()) return refuse(std::move(problem));
    auto url = onOrigin(origin, pieces);
    if (!url) return refuse("leaves the origin");
    return {std::move(url), ""};
}

DeepLinkController::DeepLinkController(platform::Process& process, std::optional<std::string> scheme,
                                       const AppOrigin& origin)
    : process_(process), scheme_(std::move(scheme)), origin_(origin) {}

std::optional<std::string> DeepLinkController::pageFor(const std::vector<std::string>& links) const {
    std::optional<std::string> page;
    for (const auto& link : links) {
        auto decision = scheme_ ? resolveDeepLink(link, *scheme_, origin_) : refuse("this build opens no links");
        if (decision.url) {
            page = std::move(decision.url);
        } else {
            process_.writeStderr("[link] refused (" + decision.refusal + "): " + shown(link));
        }
    }
    return page;
}

}  // namespace corvidale
