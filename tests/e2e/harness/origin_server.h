#pragma once

#include <httplib.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tls.h"
#include "util.h"

namespace corvidale::e2e {

struct RecordedRequest {
    std::string method;
    std::string target;  // path and query, as sent
    std::string path;    // without the query
    std::string host;    // the Host header
    std::string userAgent;
    std::string body;
    httplib::Headers headers;
};

// The web application's stand-in: an https server on 127.0.0.1, on a port of
// its own, answering for every test host. It records every request in arrival
// order and serves what the test registered; everything else is a 404 (still
// recorded). Pages send what they observed to /report (GET ?m=… or POST body).
class OriginServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit OriginServer(const TlsMaterial& tls);
    ~OriginServer();
    OriginServer(const OriginServer&) = delete;
    OriginServer& operator=(const OriginServer&) = delete;

    int port() const { return port_; }
    // "https://<host>:<port><pathAndQuery>"
    std::string url(const std::string& host, const std::string& pathAndQuery = "/") const;
    std::string appUrl(const std::string& pathAndQuery = "/") const { return url(kAppHost, pathAndQuery); }

    // GET `path` answers `html` as text/html.
    void page(const std::string& path, const std::string& html);
    // Any method on `path` goes to `handler`.
    void handle(const std::string& path, Handler handler);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    // Looks at requests from index `from` on (requests().size() taken earlier
    // means "a new request").
    std::optional<RecordedRequest> waitForRequest(const std::function<bool(const RecordedRequest&)>& match,
                                                  Millis timeout, size_t from = 0) const;
    std::optional<RecordedRequest> waitForRequestTo(const std::string& path, Millis timeout) const;

    std::vector<std::string> reports() const;
    // The first report that starts with `prefix`, once one has arrived.
    std::optional<std::string> waitForReport(const std::string& prefix, Millis timeout) const;
    bool sawReport(const std::string& prefix) const;
    // A report equal to `text` (not merely starting with it).
    bool waitForExactReport(const std::string& text, Millis timeout) const;

    // One-line listing of what arrived, for failure messages.
    std::string describeTraffic() const;

private:
    void dispatch(const httplib::Request& request, httplib::Response& response);

    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = -1;

    mutable std::mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::string> reports_;
};

// A script for pages: report(text) sends the text to /report of the page's own server.
inline constexpr const char* kReportScript = R"JS(
<script>
function report(text) {
  return fetch('/report', { method: 'POST', body: String(text), cache: 'no-store', keepalive: true })
    .catch(function () {});
}
</script>
)JS";

}  // namespace corvidale::e2e
