#pragma once

// The owner of a libcurl URL handle.

#include <curl/curl.h>

#include <memory>

namespace corvidale {

struct CurlUrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

}  // namespace corvidale
