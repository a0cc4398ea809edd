#include "curl/url_session.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "core/util/posix.h"

namespace corvidale::curl {
namespace {

constexpr long kMaxRedirects = 16;

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// Where the received bytes go, and how many may come.
struct Sink {
    std::uint64_t maxBytes = 0;  // 0: any number
    std::uint64_t received = 0;
    bool exceeded = false;
    std::string* body = nullptr;
    int fd = -1;
    const std::string* path = nullptr;
    int writeErrno = 0;
    // The transfer's deadline, and the seconds it was given once it ran out.
    const platform::DownloadLimits* limits = nullptr;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    double overdue = 0;
    // Who watches the transfer, and whether it ended it.
    const platform::DownloadWatch* watch = nullptr;
    bool stopped = false;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t length = size * count;
    if (sink->maxBytes > 0 && length > sink->maxBytes - sink->received) {
        // Cut the transfer off now rather than hold more than was allowed.
        sink->exceeded = true;
        return 0;
    }
    sink->received += length;
    if (sink->body != nullptr) {
        sink->body->append(data, length);
        return length;
    }
    sink->writeErrno = writeAll(sink->fd, data, length);
    return sink->writeErrno == 0 ? length : 0;
}

// Ends a transfer that has taken longer than its size allows, as soon as
// that size is announced, or that its watcher ends; tells the watcher how far
// it is otherwise.
int checkProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* sink = static_cast<Sink*>(user);
    const auto expected = total > 0 ? std::optional(static_cast<std::uint64_t>(total)) : std::nullopt;
    if (sink->watch != nullptr && sink->watch->progress &&
        !sink->watch->progress(static_cast<std::uint64_t>(std::max<curl_off_t>(now, 0)), expected)) {
        sink->stopped = true;
        return 1;
    }
    if (sink->limits == nullptr) return 0;
    const double allowed =
        sink->limits->secondsFor(expected);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - sink->started).count();
    if (allowed <= 0 || elapsed <= allowed) return 0;
    sink->overdue = allowed;
    return 1;
}

long milliseconds(double seconds) {
    if (!(seconds > 0)) return 0;
    return seconds >= 1e9 ? 1000000000000L : static_cast<long>(std::ceil(seconds * 1000.0));
}

platform::Error transportError(const std::string& text, int code) {
    return {text, "Error Domain=curl Code=" + std::to_string(code) + " \"" + text + "\""};
}

CurlHandle makeHandle(const platform::URLRequest& request, const std::optional<std::string>& caBundle, Sink& sink,
                      char* errorBuffer) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CurlHandle handle(curl_easy_init());
    if (!handle) return handle;
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // Signals belong to the application; timeouts work without them.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
    // A server may send us on to another http(s) location, never to a file
    // on this machine or to anything else.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (caBundle) curl_easy_setopt(curl, CURLOPT_CAINFO, caBundle->c_str());
    // Compressed bodies are decoded before they are counted against the limit.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(request.timeoutSeconds));
    if (sink.maxBytes > 0) {
        // Refused at once when the server announces a longer body.
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.maxBytes));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    // There is no local cache to ignore: every request goes to its server.
    return handle;
}

// Runs the transfer and answers what the session's callers see.
platform::URLResult perform(CURL* curl, Sink& sink, const char* errorBuffer) {
    const CURLcode code = curl_easy_perform(curl);
    platform::URLResult result;
    if (code != CURLE_OK && !sink.exceeded && code != CURLE_FILESIZE_EXCEEDED) {
        std::string text = sink.writeErrno != 0 ? "Couldn't save the download as " + *sink.path + ": " +
                                                      std::strerror(sink.writeErrno)
                           : errorBuffer[0] != '\0' ? std::string(errorBuffer)
                                                    : std::string(curl_easy_strerror(code));
        // The ceiling is also libcurl's own timeout: whichever of the two
        // notices first, the transfer ran out of time.
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - sink.started).count();
        if (sink.overdue <= 0 && code == CURLE_OPERATION_TIMEDOUT && sink.limits != nullptr &&
            sink.limits->maxSeconds > 0 && elapsed >= sink.limits->maxSeconds) {
            sink.overdue = sink.limits->maxSeconds;
        }
        if (sink.stopped) text = "The download was stopped.";
        if (sink.overdue > 0) {
            text = "The download took too long: it may take " + std::to_string(std::lround(sink.overdue)) +
                   " seconds at most.";
        }
        result.error = transportError(text, sink.overdue > 0 ? CURLE_OPERATION_TIMEDOUT : code);
        return result;
    }
    const char* scheme = nullptr;
    curl_easy_getinfo(curl, CURLINFO_SCHEME, &scheme);
    result.response.isHTTP =
        scheme != nullptr && (::strcasecmp(scheme, "http") == 0 || ::strcasecmp(scheme, "https") == 0);
    const char* url = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
    if (url != nullptr) result.response.url = url;
    if (result.response.isHTTP) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        result.response.statusCode = static_cast<int>(status);
    }
    result.response.exceededMaxBytes = code != CURLE_OK;
    return result;
}

std::filesystem::path temporaryDirectory() {
    std::error_code error;
    auto folder = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path("/tmp") : folder;
}

}  // namespace

CurlURLSession::CurlURLSession(std::optional<std::string> caBundle) : caBundle_(std::move(caBundle)) {}

platform::URLResult CurlURLSession::data(const platform::URLRequest& request, std::uint64_t maxBytes) {
    std::string body;
    Sink sink;
    sink.maxBytes = maxBytes;
    sink.body = &body;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    auto handle = makeHandle(request, caBundle_, sink, errorBuffer);
    if (!handle) return {transportError("The URL session could not start a transfer.", CURLE_FAILED_INIT), {}};
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, milliseconds(request.timeoutSeconds));
    auto result = perform(handle.get(), sink, errorBuffer);
    if (!result.error && !result.response.exceededMaxBytes) result.response.body = std::move(body);
    return result;
}

platform::URLResult CurlURLSession::download(const platform::URLRequest& request,
                                             const platform::DownloadLimits& limits, const std::string& folder,
                                             const platform::DownloadWatch& watch) {
    const std::filesystem::path where = folder.empty() ? temporaryDirectory() : std::filesystem::path(folder);
    std::string path = (where / "corvidale-download-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        const int error = errno;
        return {transportError(std::string("Couldn't create a temporary file: ") + std::strerror(error), CURLE_WRITE_ERROR),
                {}};
    }
    Sink sink;
    sink.path = &path;
    sink.maxBytes = limits.maxBytes;
    sink.fd = fd;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    auto handle = makeHandle(request, caBundle_, sink, errorBuffer);
    platform::URLResult result;
    if (!handle) {
        result.error = transportError("The URL session could not start a transfer.", CURLE_FAILED_INIT);
    } else {
        // A transfer that stops moving is broken off; without a rule of the
        // caller's, the request's timeout is how long it may stand still.
        const bool callerRule = limits.minBytesPerSecond > 0 && limits.stallSeconds > 0;
        const long speed = callerRule ? static_cast<long>(limits.minBytesPerSecond) : 1L;
        const double seconds = callerRule ? limits.stallSeconds : request.timeoutSeconds;
        if (seconds > 0) {
            curl_easy_setopt(handle.get(), CURLOPT_LOW_SPEED_LIMIT, speed);
            curl_easy_setopt(handle.get(), CURLOPT_LOW_SPEED_TIME, std::max(1L, static_cast<long>(std::ceil(seconds))));
        }
        if (limits.maxSeconds > 0) {
            sink.limits = &limits;
            curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, milliseconds(limits.maxSeconds));
        }
        if (watch.progress) sink.watch = &watch;
        if (sink.limits != nullptr || sink.watch != nullptr) {
            curl_easy_setopt(handle.get(), CURLOPT_XFERINFOFUNCTION, &checkProgress);
            curl_easy_setopt(handle.get(), CURLOPT_XFERINFODATA, &sink);
            curl_easy_setopt(handle.get(), CURLOPT_NOPROGRESS, 0L);
        }
        result = perform(handle.get(), sink, errorBuffer);
    }
    const bool closed = ::close(fd) == 0;
    if (!closed && !result.error) result.error = transportError(std::strerror(errno), CURLE_WRITE_ERROR);
    if (result.error || result.response.exceededMaxBytes) {
        ::unlink(path.c_str());
    } else {
        result.response.filePath = path;
    }
    return result;
}

}  // namespace corvidale::curl
