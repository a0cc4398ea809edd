#include "self_test.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/util/text.h"

namespace corvidale {
namespace {

constexpr double kDeadlineSeconds = 15.0;

std::optional<std::string> readUtf8File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !isValidUtf8(bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

void DownloadSelfTest::pageDidFinishLoading(platform::WebView& web) {
    // Once: a reload must not start a second download.
    if (started_) return;
    started_ = true;
    const std::string script =
        std::string("const a=document.createElement('a');a.href=URL.createObjectURL(new Blob(['") +
        std::string(kDownloadSelfTestMarker) + "'],{type:'text/plain'}));" + "a.download='" +
        std::string(kDownloadSelfTestFileName) + "';document.body.appendChild(a);a.click();";
    web.evaluateJavaScript(script, [this](platform::ScriptResult result) {
        if (result.error) fail(*result.error);
    });
    queue_.after(kDeadlineSeconds, [this] {
        process_.writeStdout("DOWNLOAD SELFTEST: nothing arrived in 15 s");
        process_.exit(1);
    });
}

void DownloadSelfTest::downloadDidFinish(const std::string& path) {
    const std::string content = readUtf8File(path).value_or("<unreadable>");
    process_.writeStdout("DOWNLOAD SELFTEST: saved " + path + " — \"" + content + "\"");
    std::remove(path.c_str());
    process_.exit(content == kDownloadSelfTestMarker ? 0 : 1);
}

void DownloadSelfTest::downloadDidFail(const std::string&, const platform::Error& error) {
    fail(error.fullDescription);
}

void DownloadSelfTest::fail(const std::string& errorDescription) {
    process_.writeStdout("DOWNLOAD SELFTEST: failed — " + errorDescription);
    process_.exit(1);
}

}  // namespace corvidale
