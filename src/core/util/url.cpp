#include "url.h"

#include "curl_url.h"
#include "text.h"

#include <curl/curl.h>
#if !defined(__APPLE__)
#include <idn2.h>
#endif

#include <algorithm>
#include <cctype>
#include <memory>

namespace corvidale {
namespace {

struct CurlTextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

std::optional<std::string> part(CURLU* handle, CURLUPart which, unsigned flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(handle, which, &raw, flags) != CURLUE_OK || raw == nullptr) return std::nullopt;
    std::unique_ptr<char, CurlTextDeleter> owned(raw);
    return std::string(raw);
}

// RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) before the first ':'.
std::optional<std::string> leadingScheme(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const auto scheme = text.substr(0, colon);
    if (!std::isalpha(static_cast<unsigned char>(scheme[0]))) return std::nullopt;
    for (char c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    return std::string(scheme);
}

std::optional<std::string> canonicalHostName(const std::string& host) {
    const bool ascii = std::all_of(host.begin(), host.end(), [](unsigned char c) { return c < 0x80; });
    if (ascii) return asciiLower(host);
#if defined(__APPLE__)
    // macOS has no public IDNA conversion before 14 and the app loads no
    // library a Mac lacks, so an international name is taken only in the
    // form the engine reports it in, punycode; written otherwise it has no
    // engine form here.
    return std::nullopt;
#else
    // libidn2 directly: libcurl's own conversion depends on the process's locale.
    char* converted = nullptr;
    if (idn2_to_ascii_8z(host.c_str(), &converted, IDN2_NONTRANSITIONAL) != IDN2_OK || converted == nullptr) {
        return asciiLower(host);  // not a name IDNA accepts; no engine would report it otherwise
    }
    std::string result = asciiLower(converted);
    idn2_free(converted);
    return result;
#endif
}

// libcurl refuses to decode what would hold a control character or NUL.
bool encodesControlCharacter(CURLU* handle) {
    for (const auto which : {CURLUPART_PATH, CURLUPART_QUERY, CURLUPART_FRAGMENT}) {
        if (part(handle, which) && !part(handle, which, CURLU_URLDECODE)) return true;
    }
    return false;
}

bool hasControlOrSpace(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    // libcurl tolerates some of these; a URL parser proper refuses them.
    if (text.empty() || hasControlOrSpace(text)) return std::nullopt;
    auto scheme = leadingScheme(text);
    if (!scheme) return std::nullopt;

    Url url;
    url.text_ = std::string(text);
    url.writtenScheme_ = *scheme;
    url.scheme_ = asciiLower(*scheme);

    const auto rest = text.substr(scheme->size() + 1);
    if (rest.substr(0, 2) != "//") return url;  // opaque: "mailto:x", "blob:https://…"
    if (rest.substr(0, 3) == "///") {
        // "https:///path" has an empty authority; libcurl would promote the
        // path to a host.
        return url;
    }

    CurlUrl handle(curl_url());
    if (!handle) return std::nullopt;
    const std::string owned(text);
    // Dot segments as written: a reader of the path sees what the text says.
    if (curl_url_set(handle.get(), CURLUPART_URL, owned.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) !=
        CURLUE_OK) {
        return std::nullopt;
    }
    url.readParts(handle.get());
    return url;
}

void Url::readParts(CURLU* handle) {
    host_ = part(handle, CURLUPART_HOST);
    if (host_ && host_->empty()) host_.reset();
    if (host_) canonicalHost_ = canonicalHostName(*host_);
    port_ = part(handle, CURLUPART_PORT);
    hasUserInfo_ = part(handle, CURLUPART_USER) || part(handle, CURLUPART_PASSWORD) || part(handle, CURLUPART_OPTIONS);
    path_ = part(handle, CURLUPART_PATH).value_or("/");
    query_ = part(handle, CURLUPART_QUERY);
    fragment_ = part(handle, CURLUPART_FRAGMENT);
    if (!encodesControlCharacter(handle)) decodedPath_ = part(handle, CURLUPART_PATH, CURLU_URLDECODE).value_or("/");
}

std::optional<Url> Url::resolve(std::string_view reference) const {
    if (reference.empty() || hasControlOrSpace(reference)) return std::nullopt;
    if (leadingScheme(reference)) return parse(reference);

    CurlUrl handle(curl_url());
    if (!handle) return std::nullopt;
    if (curl_url_set(handle.get(), CURLUPART_URL, text_.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return std::nullopt;
    }
    // With a URL already in the handle, libcurl reads the next one relative to it.
    const std::string owned(reference);
    if (curl_url_set(handle.get(), CURLUPART_URL, owned.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return std::nullopt;
    }
    auto absolute = part(handle.get(), CURLUPART_URL);
    if (!absolute) return std::nullopt;
    return parse(*absolute);
}

bool hasAuthority(std::string_view text) {
    const auto scheme = leadingScheme(text);
    return scheme && text.substr(scheme->size() + 1, 2) == "//";
}

std::optional<std::string> hostOf(std::string_view text) {
    auto url = Url::parse(text);
    if (!url) return std::nullopt;
    return url->host();
}

}  // namespace corvidale
