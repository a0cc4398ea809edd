#include "shell_page.h"

#include <cstdio>
#include <random>

namespace corvidale {

std::string escapeHTML(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string shellPageHTML(const ShellPage& page, platform::Appearance appearance, std::string_view actionURL) {
    const bool light = appearance == platform::Appearance::Light;
    const std::string background = light ? "#f5f5f7" : "#1e1e20";
    const std::string text = light ? "#1d1d1f" : "#f2f2f4";
    const std::string muted = light ? "#55555a" : "#b0b0b6";
    // The root's class is what the theme script reads: the window keeps its
    // appearance while this page shows.
    return std::string("<!doctype html><html class=\"") + (light ? "light" : "dark") +
           "\"><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
           "<meta name=\"color-scheme\" content=\"" + (light ? "light" : "dark") + "\">"
           "<title>" + escapeHTML(page.heading) + "</title><style>"
           "html,body{margin:0;height:100%;background:" + background + ";color:" + text +
           ";font:15px system-ui,sans-serif}"
           "body{display:flex;align-items:center;justify-content:center;text-align:center}"
           "main{max-width:30em;padding:2em}h1{font-size:24px;margin:0 0 .6em}"
           "p{color:" + muted + ";line-height:1.5;margin:0 0 1.6em}"
           "a{display:inline-block;padding:.55em 1.6em;border-radius:8px;background:#2f6fdf;color:#fff;"
           "text-decoration:none;font-weight:600}a:focus{outline:2px solid " + text + ";outline-offset:2px}"
           "</style></head><body><main><h1>" + escapeHTML(page.heading) + "</h1><p>" + escapeHTML(page.message) +
           "</p><a href=\"" + escapeHTML(actionURL) + "\" autofocus>" + escapeHTML(page.buttonTitle) +
           "</a></main></body></html>";
}

std::string newShellActionURL() {
    std::random_device entropy;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(entropy()));
        token += part;
    }
    return "corvidale-shell://action/" + token;
}

}  // namespace corvidale
