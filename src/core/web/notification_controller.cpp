#include "notification_controller.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

#include "page_dialogs.h"
#include "request_gate.h"

namespace corvidale {
namespace {

constexpr std::string_view kIdentifierPrefix = "page-";
// More origins than one user ever pointed the shell at, and longer ones than
// any real origin: a planted value cannot grow without bound.
constexpr std::size_t kMaxRememberedOrigins = 32;
constexpr std::size_t kMaxOriginLength = 300;
// A bridge message longer than this is no notification of any page's.
constexpr std::size_t kMaxBridgeMessage = 1 << 20;

std::string identifierFor(std::uint64_t id) { return std::string(kIdentifierPrefix) + std::to_string(id); }

std::optional<std::uint64_t> idFrom(std::string_view identifier) {
    if (identifier.substr(0, kIdentifierPrefix.size()) != kIdentifierPrefix) return std::nullopt;
    const auto digits = identifier.substr(kIdentifierPrefix.size());
    if (digits.empty() || digits.size() > 19) return std::nullopt;
    std::uint64_t id = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return id;
}

// The bridge's message: {"type": "request" | "show" | "close", "id", "title", "body", "tag"}.
struct BridgeMessage {
    std::string type;
    platform::PageNotification notification;
};

std::optional<BridgeMessage> parseBridgeMessage(const std::string& text) {
    if (text.size() > kMaxBridgeMessage) return std::nullopt;
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || !json.contains("type") || !json["type"].is_string()) return std::nullopt;
    BridgeMessage message;
    message.type = json["type"].get<std::string>();
    if (message.type == "request") return message;
    if (!json.contains("id") || !json["id"].is_number_unsigned()) return std::nullopt;
    message.notification.id = json["id"].get<std::uint64_t>();
    const auto text_of = [&json](const char* key) {
        return json.contains(key) && json[key].is_string() ? json[key].get<std::string>() : std::string();
    };
    message.notification.title = text_of("title");
    message.notification.body = text_of("body");
    message.notification.tag = text_of("tag");
    return message;
}

}  // namespace

std::vector<std::string> readNotificationOrigins(std::string_view stored) {
    std::vector<std::string> origins;
    std::istringstream words{std::string(stored)};
    for (std::string word; words >> word && origins.size() < kMaxRememberedOrigins;) {
        if (word.size() > kMaxOriginLength) continue;
        const auto origin = AppOrigin::parse(word);
        if (origin && origin->serialized() == word && std::find(origins.begin(), origins.end(), word) == origins.end()) {
            origins.push_back(word);
        }
    }
    return origins;
}

std::vector<std::string> grantedNotificationOrigins(const platform::Defaults& defaults, const AppOrigin& origin) {
    const auto remembered = readNotificationOrigins(defaults.string(kNotificationOriginsKey).value_or(""));
    if (std::find(remembered.begin(), remembered.end(), origin.serialized()) == remembered.end()) return {};
    return {origin.serialized()};
}

NotificationController::NotificationController(platform::NotificationCenter& center,
                                               platform::Application& application, platform::Defaults& defaults,
                                               platform::MainQueue& queue, const AppOrigin& origin, bool bridged,
                                               platform::WebView& web, PageConsole& console)
    : center_(center),
      application_(application),
      defaults_(defaults),
      origin_(origin),
      bridged_(bridged),
      granted_(!grantedNotificationOrigins(defaults, origin).empty()),
      web_(web),
      console_(console),
      allowance_(queue, kNotificationsPerMinute) {
    center_.setDelegate(this);
    if (!bridged_) return;
    web_.addScriptMessageHandler(std::string(kNotificationHandlerName), *this);
    web_.addUserScript(notificationBridgeScript(granted_));
}

bool NotificationController::ownPage() const { return origin_.ownsURL(web_.url()); }

bool NotificationController::decide(bool fromMainFrame) {
    // Like the camera: for the application's own page, not for a page it
    // shows in a frame, nor for a sign-in page that took the window.
    if (!fromMainFrame || !ownPage()) return false;
    if (!granted_) remember();
    return true;
}

void NotificationController::remember() {
    granted_ = true;
    auto origins = readNotificationOrigins(defaults_.string(kNotificationOriginsKey).value_or(""));
    if (origins.size() >= kMaxRememberedOrigins) origins.erase(origins.begin());
    origins.push_back(origin_.serialized());
    std::string stored;
    for (const auto& origin : origins) stored += (stored.empty() ? "" : " ") + origin;
    defaults_.setString(kNotificationOriginsKey, stored);
    web_.setNotificationOrigins({origin_.serialized()});
}

void NotificationController::requestPermission(bool fromMainFrame, platform::Completion<bool> decisionHandler) {
    // The engine answers the origins it was told may notify by itself; once
    // the application's is one, whoever still asks is another origin.
    const bool grant = !granted_ && decide(fromMainFrame);
    if (!grant) console_.warn("Notification permission is for the application's own page only");
    decisionHandler(grant);
}

bool NotificationController::show(const platform::PageNotification& notification) {
    if (!allowance_.spend()) {
        console_.warn("Notification dropped: more than " + std::to_string(kNotificationsPerMinute) + " a minute");
        return false;
    }
    if (!notification.tag.empty()) {
        for (auto it = shown_.begin(); it != shown_.end();) {
            const auto replaced = it++;
            if (replaced->second == notification.tag && replaced->first != notification.id) withdraw(replaced->first);
        }
    }
    if (!authorizationAsked_) {
        authorizationAsked_ = true;
        center_.requestAuthorization();
    }
    center_.add({identifierFor(notification.id), pageDialogText(notification.title), pageDialogText(notification.body)});
    shown_[notification.id] = notification.tag;
    return true;
}

void NotificationController::withdraw(std::uint64_t id) {
    if (shown_.erase(id) == 0) return;
    center_.remove(identifierFor(id));
}

void NotificationController::closed(std::uint64_t id) { withdraw(id); }

void NotificationController::didReceiveNotificationResponse(const std::string& identifier) {
    // The user asked for the application, whatever became of the page's notification.
    application_.activateIgnoringOtherApps();
    const auto id = idFrom(identifier);
    if (!id || shown_.erase(*id) == 0) return;
    if (bridged_) {
        web_.evaluateJavaScript(
            "window.__corvidaleNotifications && __corvidaleNotifications.clicked(" + std::to_string(*id) + ")", {});
    } else {
        web_.notificationClicked(*id);
    }
}

void NotificationController::answerBridge(bool granted) {
    web_.evaluateJavaScript(std::string("window.__corvidaleNotifications && __corvidaleNotifications.answer(") +
                                 (granted ? "'granted'" : "'denied'") + ")",
                             {});
}

void NotificationController::didReceiveScriptMessage(const platform::ScriptMessage& message) {
    if (!message.textBody) return;
    const auto parsed = parseBridgeMessage(*message.textBody);
    if (!parsed) return;
    // The bridge lives in the top frame only; a message from elsewhere, or
    // from a page that is not the application's (another port or plain http
    // on the same host included), is no notification of its, and closes none.
    const auto& from = message.securityOrigin;
    const bool own = message.fromMainFrame && origin_.ownsOrigin(from.protocol, from.host, from.port);
    if (!own) {
        if (parsed->type == "request") answerBridge(false);
    } else if (parsed->type == "request") {
        answerBridge(granted_ || decide(true));
    } else if (parsed->type == "show" && granted_) {
        show(parsed->notification);
    } else if (parsed->type == "close") {
        closed(parsed->notification.id);
    }
}

}  // namespace corvidale
