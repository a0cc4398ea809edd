#include "origin_server.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace corvidale::e2e {

OriginServer::OriginServer(const TlsMaterial& tls)
    : server_(std::make_unique<httplib::SSLServer>(tls.serverCertificate.c_str(), tls.serverKey.c_str())) {
    if (!server_->is_valid()) throw std::runtime_error("OriginServer: the TLS certificate or key was refused");
    // An engine keeps several connections per host alive; a small pool would
    // leave requests queued behind idle keep-alive connections.
    server_->new_task_queue = [] { return new httplib::ThreadPool(48); };
    server_->set_keep_alive_timeout(2);
    server_->set_default_headers({{"Cache-Control", "no-store"}});
    const auto route = [this](const httplib::Request& request, httplib::Response& response) {
        dispatch(request, response);
    };
    server_->Get(".*", route);
    server_->Post(".*", route);
    server_->Put(".*", route);
    server_->Patch(".*", route);
    server_->Delete(".*", route);
    server_->Options(".*", route);

    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("OriginServer: no free port on 127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    if (!waitUntil([this] { return server_->is_running(); }, 10s)) {
        server_->stop();
        thread_.join();
        throw std::runtime_error("OriginServer: did not start listening");
    }
}

OriginServer::~OriginServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string OriginServer::url(const std::string& host, const std::string& pathAndQuery) const {
    return "https://" + host + ":" + std::to_string(port_) + pathAndQuery;
}

void OriginServer::page(const std::string& path, const std::string& html) {
    handle(path, [html](const httplib::Request&, httplib::Response& response) {
        response.set_content(html, "text/html; charset=utf-8");
    });
}

void OriginServer::handle(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

void OriginServer::dispatch(const httplib::Request& request, httplib::Response& response) {
    RecordedRequest record;
    record.method = request.method;
    record.target = request.target;
    record.path = request.path;
    record.host = request.get_header_value("Host");
    record.userAgent = request.get_header_value("User-Agent");
    record.body = request.body;
    record.headers = request.headers;

    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(record);
        if (request.path == "/report") {
            reports_.push_back(request.has_param("m") ? request.get_param_value("m") : request.body);
        } else if (auto found = handlers_.find(request.path); found != handlers_.end()) {
            handler = found->second;
        }
    }
    if (request.path == "/report") {
        // Frames of other hosts report too.
        response.set_header("Access-Control-Allow-Origin", "*");
        response.status = 204;
        return;
    }
    if (!handler) {
        response.status = 404;
        response.set_content("nothing registered for " + request.path, "text/plain");
        return;
    }
    handler(request, response);
}

std::vector<RecordedRequest> OriginServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> OriginServer::requestsTo(const std::string& path) const {
    std::vector<RecordedRequest> matching;
    for (auto& request : requests()) {
        if (request.path == path) matching.push_back(request);
    }
    return matching;
}

std::optional<RecordedRequest> OriginServer::waitForRequest(const std::function<bool(const RecordedRequest&)>& match,
                                                            Millis timeout, size_t from) const {
    std::optional<RecordedRequest> found;
    waitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            for (size_t i = from; i < requests_.size(); ++i) {
                if (match(requests_[i])) {
                    found = requests_[i];
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

std::optional<RecordedRequest> OriginServer::waitForRequestTo(const std::string& path, Millis timeout) const {
    return waitForRequest([&](const RecordedRequest& request) { return request.path == path; }, timeout);
}

std::vector<std::string> OriginServer::reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

std::optional<std::string> OriginServer::waitForReport(const std::string& prefix, Millis timeout) const {
    std::optional<std::string> found;
    waitUntil(
        [&] {
            std::lock_guard lock(mutex_);
            for (const auto& text : reports_) {
                if (text.rfind(prefix, 0) == 0) {
                    found = text;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

bool OriginServer::sawReport(const std::string& prefix) const {
    for (const auto& text : reports()) {
        if (text.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool OriginServer::waitForExactReport(const std::string& text, Millis timeout) const {
    return waitUntil(
        [&] {
            const auto all = reports();
            return std::find(all.begin(), all.end(), text) != all.end();
        },
        timeout);
}

std::string OriginServer::describeTraffic() const {
    std::ostringstream text;
    text << "requests on port " << port_ << ":";
    for (const auto& request : requests()) text << "\n  " << request.method << " " << request.host << request.target;
    text << "\nreports:";
    for (const auto& report : reports()) text << "\n  " << report;
    return text.str();
}

}  // namespace corvidale::e2e
