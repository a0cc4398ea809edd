#pragma once

#include <webkit/webkit.h>

#include <set>

#include "shell_context.h"

namespace corvidale::gtk {

// Turns the downloads that WebKit starts in a network session into the
// core's Download objects and relays their progress to the download delegate.
class DownloadCenter {
public:
    explicit DownloadCenter(ShellContext& context) : context_(context) {}
    DownloadCenter(const DownloadCenter&) = delete;
    DownloadCenter& operator=(const DownloadCenter&) = delete;

    // Starts watching `session`; watching one twice does nothing.
    void attach(WebKitNetworkSession* session);

private:
    static void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self);
    static void onSessionGone(gpointer self, GObject* session);

    ShellContext& context_;
    std::set<WebKitNetworkSession*> sessions_;
};

}  // namespace corvidale::gtk
