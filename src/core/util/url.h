#pragma once

#include <optional>
#include <string>
#include <string_view>

typedef struct Curl_URL CURLU;

namespace corvidale {

// A parsed URL. Hierarchical URLs ("scheme://host/...") go through libcurl's
// URL parser; opaque ones ("mailto:", "blob:", "about:") keep only their
// scheme and have no host.
class Url {
public:
    static std::optional<Url> parse(std::string_view text);

    const std::string& text() const { return text_; }
    // The scheme exactly as written in the text (not lower-cased).
    const std::string& writtenScheme() const { return writtenScheme_; }
    // Lower-cased scheme.
    const std::string& scheme() const { return scheme_; }
    // The host as the parser reports it; nullopt when there is none.
    const std::optional<std::string>& host() const { return host_; }
    // The host in the form the web engine reports hosts: ASCII letters in
    // lower case, international names in punycode. A configured origin is
    // written by hand ("https://App.Example.com", "https://bücher.example");
    // the engine never reports a host that way. On macOS an international
    // name written other than in punycode has none.
    const std::optional<std::string>& canonicalHost() const { return canonicalHost_; }
    // The port as written; nullopt when the URL names none.
    const std::optional<std::string>& port() const { return port_; }
    // Whether a user name, password or login options come before the host.
    bool hasUserInfo() const { return hasUserInfo_; }
    // Path, query and fragment exactly as written, escapes and dot segments
    // included ("/" for a hierarchical URL that writes no path); nullopt
    // when absent. Opaque URLs have none.
    const std::optional<std::string>& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }
    // The path with its escapes decoded; nullopt when there is no path or
    // an escape in the path, query or fragment stands for a control
    // character or NUL.
    const std::optional<std::string>& decodedPath() const { return decodedPath_; }

    // Resolves a reference against this URL: one with a scheme of its own
    // stands by itself, anything else is relative to this URL. nullopt when
    // the reference or the result is not a URL.
    std::optional<Url> resolve(std::string_view reference) const;

private:
    void readParts(CURLU* handle);

    std::string text_;
    std::string writtenScheme_;
    std::string scheme_;
    std::optional<std::string> host_;
    std::optional<std::string> canonicalHost_;
    std::optional<std::string> port_;
    bool hasUserInfo_ = false;
    std::optional<std::string> path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
    std::optional<std::string> decodedPath_;
};

// Whether `text` starts with a scheme followed by "://": a URL that names a
// host, even when no parser here can read it.
bool hasAuthority(std::string_view text);

// The host of `text` when it parses and has one.
std::optional<std::string> hostOf(std::string_view text);

}  // namespace corvidale
