#pragma once

// What the core's two readers of URLs through libcurl share: the handle's
// owner and ASCII lower case (locale-independent, as URLs are compared).

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <string>

namespace corvidale {

struct CurlUrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

inline std::string asciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

}  // namespace corvidale
