#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "core/app/delegate.h"
#include "core/downloads/destination.h"

namespace corvidale {
namespace {

constexpr std::string_view kMarker = "saved by the Mac shell";
constexpr std::string_view kFileName = "corvidale-download-selftest.txt";
constexpr double kDeadlineSeconds = 15.0;

std::optional<std::string> readUtf8File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !isValidUtf8(bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

void Delegate::startDownloadSelfTest(platform::WebView& webView) {
    const std::string script =
        std::string("const a=document.createElement('a');a.href=URL.createObjectURL(new Blob(['") +
        std::string(kMarker) + "'],{type:'text/plain'}));" + "a.download='" + std::string(kFileName) +
        "';document.body.appendChild(a);a.click();";
    webView.evaluateJavaScript(script, [this](platform::ScriptResult result) {
        if (result.error) failDownloadSelfTest(*result.error);
    });
    platform_.mainQueue().after(kDeadlineSeconds, [this] {
        platform_.process().writeStdout("DOWNLOAD SELFTEST: nothing arrived in 15 s");
        platform_.process().exit(1);
    });
}

void Delegate::completeDownloadSelfTest(const std::string& destination) {
    const std::string content = readUtf8File(destination).value_or("<unreadable>");
    platform_.process().writeStdout("DOWNLOAD SELFTEST: saved " + destination + " — \"" + content + "\"");
    std::remove(destination.c_str());
    platform_.process().exit(content == kMarker ? 0 : 1);
}

void Delegate::failDownloadSelfTest(const std::string& errorDescription) {
    platform_.process().writeStdout("DOWNLOAD SELFTEST: failed — " + errorDescription);
    platform_.process().exit(1);
}

}  // namespace corvidale
