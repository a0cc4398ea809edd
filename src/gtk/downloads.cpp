#include "downloads.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/download.h"
#include "glib_ptr.h"
#include "web_view.h"

namespace corvidale::gtk {
namespace {

platform::DownloadId nextDownloadId() {
    static std::atomic<platform::DownloadId> counter{0};
    return ++counter;
}

// One running WebKitDownload. It lives from "download-started" to
// "finished", which WebKit always emits last, also after "failed".
class GtkDownload final : public platform::Download {
public:
    explicit GtkDownload(WebKitDownload* download)
        : download_(WEBKIT_DOWNLOAD(g_object_ref(download))), id_(nextDownloadId()), ended_(std::make_shared<bool>(false)) {
        g_signal_connect(download_.get(), "decide-destination", G_CALLBACK(&GtkDownload::onDecideDestination), this);
        g_signal_connect(download_.get(), "failed", G_CALLBACK(&GtkDownload::onFailed), this);
        g_signal_connect(download_.get(), "finished", G_CALLBACK(&GtkDownload::onFinished), this);
    }
    ~GtkDownload() override {
        *ended_ = true;
        g_signal_handlers_disconnect_by_data(download_.get(), this);
    }
    GtkDownload(const GtkDownload&) = delete;
    GtkDownload& operator=(const GtkDownload&) = delete;

    platform::DownloadId id() const override { return id_; }
    void setDelegate(platform::DownloadDelegate* delegate) override { delegate_ = delegate; }

    std::optional<std::uint64_t> expectedLength() const override {
        WebKitURIResponse* response = webkit_download_get_response(download_.get());
        SoupMessageHeaders* headers = response != nullptr ? webkit_uri_response_get_http_headers(response) : nullptr;
        if (headers == nullptr || soup_message_headers_get_encoding(headers) != SOUP_ENCODING_CONTENT_LENGTH) {
            return std::nullopt;
        }
        // A coded body (gzip and the like) is written decoded, at another length.
        if (const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
            coding != nullptr && g_ascii_strcasecmp(coding, "identity") != 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers));
    }
    std::uint64_t receivedLength() const override { return webkit_download_get_received_data_length(download_.get()); }
    void cancel() override { webkit_download_cancel(download_.get()); }

private:
    static gboolean onDecideDestination(WebKitDownload*, gchar* suggestedFilename, gpointer data) {
        auto* self = static_cast<GtkDownload*>(data);
        WebKitDownload* download = self->download_.get();
        if (self->delegate_ == nullptr) {
            // Nobody to choose a place: nothing is written anywhere.
            webkit_download_cancel(download);
            return TRUE;
        }
        g_object_ref(download);
        std::shared_ptr<bool> ended = self->ended_;
        self->delegate_->decideDestination(
            *self, suggestedFilename != nullptr ? suggestedFilename : "",
            platform::Completion<std::optional<std::string>>(
                [download, ended](std::optional<std::string> path) {
                    if (!*ended) {
                        if (path) {
                            // The core has already created an empty file at the
                            // path, exclusively, to claim the name; WebKit must
                            // be allowed to write over that placeholder.
                            webkit_download_set_allow_overwrite(download, TRUE);
                            webkit_download_set_destination(download, path->c_str());
                        } else {
                            webkit_download_cancel(download);
                        }
                    }
                    g_object_unref(download);
                },
                std::nullopt));
        return TRUE;
    }

    static void onFailed(WebKitDownload*, GError* error, gpointer data) {
        auto* self = static_cast<GtkDownload*>(data);
        if (self->reported_) return;
        self->reported_ = true;
        if (self->delegate_ == nullptr) return;
        platform::Error failure;
        failure.localizedDescription = error != nullptr && error->message != nullptr ? error->message : "";
        failure.fullDescription = describeError(error);
        self->delegate_->downloadDidFail(*self, failure);
    }

    static void onFinished(WebKitDownload*, gpointer data) {
        std::unique_ptr<GtkDownload> self(static_cast<GtkDownload*>(data));
        // A failed download is reported once, as a failure.
        if (self->reported_) return;
        self->reported_ = true;
        if (self->delegate_ != nullptr) self->delegate_->downloadDidFinish(*self);
    }

    GLibPtr<WebKitDownload> download_;
    platform::DownloadId id_;
    std::shared_ptr<bool> ended_;
    platform::DownloadDelegate* delegate_ = nullptr;
    bool reported_ = false;
};

}  // namespace

void DownloadCenter::attach(WebKitNetworkSession* session) {
    if (session == nullptr || !sessions_.insert(session).second) return;
    g_signal_connect(session, "download-started", G_CALLBACK(&DownloadCenter::onDownloadStarted), this);
    g_object_weak_ref(G_OBJECT(session), &DownloadCenter::onSessionGone, this);
}

void DownloadCenter::onSessionGone(gpointer self, GObject* session) {
    static_cast<DownloadCenter*>(self)->sessions_.erase(reinterpret_cast<WebKitNetworkSession*>(session));
}

void DownloadCenter::onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self) {
    auto& center = *static_cast<DownloadCenter*>(self);
    // Freed when WebKit reports the download finished.
    auto* wrapper = new GtkDownload(download);
    WebKitWebView* origin = webkit_download_get_web_view(download);
    const auto view = origin != nullptr ? center.context_.webViews.find(origin) : center.context_.webViews.end();
    // The session downloads for every view and page: only what the core let
    // through as a navigation or asked for as a response may go on.
    if (view == center.context_.webViews.end() || !view->second->tellDownload(download, *wrapper)) wrapper->cancel();
}

}  // namespace corvidale::gtk
