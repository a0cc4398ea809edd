#include "platform.h"

#include "network_watch.h"
#include "web_view.h"
#include "window.h"

namespace corvidale::mac {

void MacPlatform::runInBackground(std::function<void()> job) {
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), ^{
      @autoreleasepool {
          job();
      }
    });
}

std::unique_ptr<platform::WebView> MacPlatform::createWebView(const platform::WebViewConfiguration& configuration) {
    return std::make_unique<MacWebView>(configuration);
}

std::unique_ptr<platform::Window> MacPlatform::createWindow(const platform::WindowShape& shape) {
    auto window = std::make_unique<MacWindow>(shape);
    dialogs_.setSheetWindow(window->window());
    return window;
}

std::unique_ptr<platform::NetworkWatch> MacPlatform::watchNetwork(std::function<void(bool available)> changed) {
    return std::make_unique<PathNetworkWatch>(std::move(changed));
}

}  // namespace corvidale::mac
