#include "theme_bridge.h"

#include <string>

#include "core/app/delegate.h"
#include "core/app/launch_config.h"

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

void Delegate::didReceiveScriptMessage(const platform::ScriptMessage& message) {
    if (message.name != kThemeHandlerName) return;
    if (!message.fromMainFrame) return;
    const auto origin = appOrigin(platform_);
    if (!origin.canonicalHost() || message.securityOriginHost != *origin.canonicalHost()) return;
    if (!message.textBody) return;
    applyTheme(*message.textBody);
}

void Delegate::applyTheme(const std::string& theme) {
    const bool light = theme == "light";
    const auto target = light ? platform::Appearance::Light : platform::Appearance::Dark;
    platform_.defaults().setString(kLastAppThemeKey, light ? "light" : "dark");
    auto& application = platform_.application();
    if (application.appearance() == target) return;
    application.setAppearance(target);
    platform_.process().writeStderr("[theme] window appearance → " + theme);
}

}  // namespace corvidale
