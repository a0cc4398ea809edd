#include "theme_bridge.h"

#include <utility>

namespace corvidale {

const platform::UserScript& themeUserScript() {
    static const platform::UserScript script{
        std::string("(function () {\n"
                    "  var handler = window.webkit && window.webkit.messageHandlers && "
                    "window.webkit.messageHandlers.") +
            std::string(kThemeHandlerName) +
            ";\n"
            "  if (!handler) return;\n"
            "  var root = document.documentElement, last = null;\n"
            "  function report() {\n"
            "    var theme = root.classList.contains('light') ? 'light' : 'dark';\n"
            "    if (theme !== last) { last = theme; handler.postMessage(theme); }\n"
            "  }\n"
            "  report();\n"
            "  new MutationObserver(report).observe(root, { attributes: true, attributeFilter: ['class'] });\n"
            "})();",
        /*injectAtDocumentEnd=*/true,
        /*forMainFrameOnly=*/true,
    };
    return script;
}

ThemeBridge::ThemeBridge(platform::Defaults& defaults, platform::Application& application, platform::Process& process,
                         platform::MainQueue& queue, const AppOrigin& origin, platform::WebView& web)
    : defaults_(defaults), application_(application), process_(process), origin_(origin), timers_(queue) {
    web.addScriptMessageHandler(std::string(kThemeHandlerName), *this);
    web.addUserScript(themeUserScript());
}

void ThemeBridge::restoreLastTheme() { applyTheme(defaults_.string(kLastAppThemeKey).value_or("dark")); }

void ThemeBridge::didReceiveScriptMessage(const platform::ScriptMessage& message) {
    if (message.name != kThemeHandlerName) return;
    if (!message.fromMainFrame) return;
    const auto& from = message.securityOrigin;
    if (!origin_.ownsOrigin(from.protocol, from.host, from.port)) return;
    if (!message.textBody) return;
    applyTheme(*message.textBody);
}

void ThemeBridge::applyTheme(const std::string& theme) {
    const bool light = theme == "light";
    const auto target = light ? platform::Appearance::Light : platform::Appearance::Dark;
    store(light ? "light" : "dark");
    if (application_.appearance() == target) return;
    application_.setAppearance(target);
    process_.writeStderr("[theme] window appearance → " + theme);
}

void ThemeBridge::store(std::string_view theme) {
    if (holding_) {
        heldBack_ = std::string(theme);
        return;
    }
    defaults_.setString(kLastAppThemeKey, theme);
    holding_ = true;
    timers_.after(kThemeStoreIntervalSeconds, [this] { storeHeldBack(); });
}

void ThemeBridge::storeHeldBack() {
    holding_ = false;
    if (auto theme = std::exchange(heldBack_, std::nullopt)) store(*theme);
}

}  // namespace corvidale
