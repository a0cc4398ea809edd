#include "platform.h"

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

}  // namespace corvidale::mac
