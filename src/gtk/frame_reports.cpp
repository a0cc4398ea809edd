#include "frame_reports.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <utility>

#include "core/util/line_output.h"
#include "core/util/url.h"
#include "web_process/frame_messages.h"

namespace corvidale::gtk {
namespace {

constexpr const char* kExtensionFolder = "/Contents/PlugIns/web-process";
constexpr const char* kExtensionFile = "/corvidale-frames.so";

bool callsPrint(GVariant* parameters) {
    if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE(frames::kCallType))) return false;
    const char* name = nullptr;
    g_variant_get_child(parameters, 3, "&s", &name);
    return name != nullptr && std::string_view(name) == "print";
}

std::optional<FrameReports::Caller> callerOf(GVariant* parameters) {
    // A press names the frame; a call names it and the function called.
    if (parameters == nullptr || (!g_variant_is_of_type(parameters, G_VARIANT_TYPE(frames::kFrameFactsType)) &&
                                  !g_variant_is_of_type(parameters, G_VARIANT_TYPE(frames::kCallType)))) {
        return std::nullopt;
    }
    guint64 id = 0;
    gboolean main = FALSE;
    const char* origin = nullptr;
    g_variant_get_child(parameters, 0, "t", &id);
    g_variant_get_child(parameters, 1, "b", &main);
    g_variant_get_child(parameters, 2, "&s", &origin);
    return FrameReports::Caller{id, {main != FALSE, securityOriginOf(origin != nullptr ? origin : "")}};
}

}  // namespace

bool loadFrameReports(const std::string& bundlePath) {
    const std::string folder = bundlePath + kExtensionFolder;
    if (!g_file_test((folder + kExtensionFile).c_str(), G_FILE_TEST_IS_REGULAR)) {
        writeLine(stderr, STDERR_FILENO,
                  "[frames] " + folder + kExtensionFile + " is missing: no frame of the page can be told apart");
        return false;
    }
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_set_web_process_extensions_directory(context, folder.c_str());
    // Read-only, and nothing but the extension's own folder.
    webkit_web_context_add_path_to_sandbox(context, folder.c_str(), TRUE);
    return true;
}

platform::SecurityOrigin securityOriginOf(std::string_view text) {
    const auto url = Url::parse(text);
    if (!url || !url->canonicalHost() || (url->scheme() != "http" && url->scheme() != "https")) return {};
    int port = 0;
    if (const auto& written = url->port()) {
        const auto [end, error] = std::from_chars(written->data(), written->data() + written->size(), port);
        if (error != std::errc() || end != written->data() + written->size()) return {};
    }
    return {url->scheme(), *url->canonicalHost(), port};
}

bool FrameReports::receive(WebKitUserMessage* message) {
    const char* name = webkit_user_message_get_name(message);
    if (name == nullptr) return false;
    const std::string_view kind = name;
    if (kind == frames::kLeaveMessage) {
        if (!calls_.empty()) calls_.pop_back();
        return true;
    }
    if (kind != frames::kEnterMessage && kind != frames::kPressMessage) return false;
    const auto frame = callerOf(webkit_user_message_get_parameters(message));
    if (kind == frames::kPressMessage) {
        // Numbered across all views: the gate spends each number once.
        static std::uint64_t presses = 0;
        if (frame) lastPress_ = Press{++presses, frame->id, g_get_monotonic_time()};
    } else {
        // Unreadable facts still open a call, of a frame nobody can name.
        calls_.push_back(frame.value_or(Caller{0, {false, {}}}));
        if (callsPrint(webkit_user_message_get_parameters(message))) printCaller_ = calls_.back();
    }
    return true;
}

std::optional<FrameReports::Caller> FrameReports::caller() const {
    if (calls_.empty() || calls_.back().id == 0) return std::nullopt;
    return calls_.back();
}

std::optional<FrameReports::Caller> FrameReports::takePrintCaller() {
    auto caller = std::exchange(printCaller_, std::nullopt);
    if (!caller || caller->id == 0) return std::nullopt;
    return caller;
}

std::optional<std::uint64_t> FrameReports::latestPress(std::optional<guint64> inFrame, gint64 maxAge) const {
    if (!lastPress_ || (inFrame && *inFrame != lastPress_->frame)) return std::nullopt;
    if (maxAge != 0 && g_get_monotonic_time() - lastPress_->time > maxAge) return std::nullopt;
    return lastPress_->number;
}

}  // namespace corvidale::gtk
