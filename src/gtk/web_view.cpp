#include "web_view.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "core/util/url.h"
#include "downloads.h"
#include "rendering.h"
#include "shortcuts.h"
#include "website_data.h"

namespace corvidale::gtk {
namespace {

using platform::Completion;
using platform::NavigationActionPolicy;
using platform::NavigationResponsePolicy;

platform::NavigationType navigationTypeOf(WebKitNavigationType type) {
    switch (type) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
        return platform::NavigationType::LinkActivated;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
        return platform::NavigationType::FormSubmitted;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
        return platform::NavigationType::BackForward;
    case WEBKIT_NAVIGATION_TYPE_RELOAD:
        return platform::NavigationType::Reload;
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
        return platform::NavigationType::FormResubmitted;
    default:
        return platform::NavigationType::Other;
    }
}

// A press in a frame allows its print this long after it, as the engine lets
// a click count for what follows it.
constexpr gint64 kPressMicroseconds = 5 * G_USEC_PER_SEC;
// Decisions kept for the downloads they may turn into.
constexpr std::size_t kRememberedDecisions = 64;

// A back/forward move, a reload or a form sent again replays the request of
// another time, with its Referer; only a new request names who sent it.
bool repeatsAnEarlierRequest(platform::NavigationType type) {
    return type == platform::NavigationType::BackForward || type == platform::NavigationType::Reload ||
           type == platform::NavigationType::FormResubmitted;
}

// The document that made a new request, as the engine wrote it in the
// Referer: a page can leave it out or shorten it, never name another origin
// there. Its frame is not known to be the top one.
std::optional<platform::FrameInfo> requesterFrame(WebKitURIRequest* request) {
    SoupMessageHeaders* headers = request != nullptr ? webkit_uri_request_get_http_headers(request) : nullptr;
    const char* referer = headers != nullptr ? soup_message_headers_get_one(headers, "Referer") : nullptr;
    if (referer == nullptr || *referer == '\0') return std::nullopt;
    return platform::FrameInfo{false, securityOriginOf(referer)};
}

template <class Entry>
void remember(std::deque<Entry>& entries, Entry entry) {
    if (entries.size() == kRememberedDecisions) entries.pop_front();
    entries.push_back(std::move(entry));
}

// Navigation actions and responses are answered alike; anything but Allow
// and Download is a refusal.
template <class Policy>
void applyPolicy(WebKitPolicyDecision* decision, Policy policy) {
    switch (static_cast<int>(policy)) {
    case static_cast<int>(Policy::Allow):
        webkit_policy_decision_use(decision);
        break;
    case static_cast<int>(Policy::Download):
        webkit_policy_decision_download(decision);
        break;
    default:
        webkit_policy_decision_ignore(decision);
        break;
    }
}

// Answers a page dialog and drops the shell's reference. Never from inside
// the engine's "script-dialog" emission, which a refusal would otherwise be:
// a dialog closed before the emission returns leaves the page's call waiting.
void closeLater(WebKitScriptDialog* dialog) {
    g_idle_add_once(
        [](gpointer data) {
            auto* answered = static_cast<WebKitScriptDialog*>(data);
            webkit_script_dialog_close(answered);
            webkit_script_dialog_unref(answered);
        },
        dialog);
}

void onJavaScriptEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::function<void(platform::ScriptResult)>> completion(
        static_cast<std::function<void(platform::ScriptResult)>*>(data));
    g_autoptr(GError) error = nullptr;
    g_autoptr(JSCValue) value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    platform::ScriptResult answer;
    if (value == nullptr) {
        answer.error = describeError(error);
    } else if (jsc_value_is_string(value)) {
        g_autofree gchar* text = jsc_value_to_string(value);
        answer.text = std::string(text != nullptr ? text : "");
    }
    if (*completion) (*completion)(std::move(answer));
}

// The default session keeps storage across launches; the ephemeral one
// forgets everything when the view goes away.
WebKitNetworkSession* networkSessionFor(const platform::WebViewConfiguration& configuration) {
    return configuration.persistentDefaultDataStore ? WEBKIT_NETWORK_SESSION(g_object_ref(persistentNetworkSession()))
                                                    : webkit_network_session_new_ephemeral();
}

WebKitSettings* settingsFor(const platform::WebViewConfiguration& configuration, const platform::Defaults& defaults) {
    WebKitSettings* settings = webkit_settings_new();
    // The page's own scripts follow the configuration; scripts that the shell
    // runs (user scripts, evaluateJavaScript) work either way, as they do on
    // the desktop platform when content JavaScript is off.
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_javascript_markup(settings, configuration.javaScriptEnabled);
    // The desktop platform lets page scripts ask for a window without a user
    // gesture (a checkout page opened after an awaited request); the request
    // still only reaches the UI delegate, which hands it to the browser.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // A developer switch only: see kMockCaptureDevicesKey.
    if (defaults.boolean(kMockCaptureDevicesKey)) webkit_settings_set_enable_mock_capture_devices(settings, TRUE);
    // Compositing on GL that the CPU emulates is slower than painting
    // without it, and holds far more memory.
    if (softwareRendering()) {
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    }
    return settings;
}

}  // namespace

std::string describeError(const GError* error) {
    if (error == nullptr) return "Error Domain=Unknown Code=0 \"Unknown error\"";
    const char* domain = g_quark_to_string(error->domain);
    return std::string("Error Domain=") + (domain != nullptr ? domain : "Unknown") +
           " Code=" + std::to_string(error->code) + " \"" + (error->message != nullptr ? error->message : "") + "\"";
}

GtkWebView::GtkWebView(ShellContext& context, DownloadCenter& downloads, const platform::Defaults& defaults,
                       const platform::WebViewConfiguration& configuration)
    : context_(context) {
    g_autoptr(WebKitNetworkSession) session = networkSessionFor(configuration);
    downloads.attach(session);
    contentManager_.reset(webkit_user_content_manager_new());
    settings_.reset(settingsFor(configuration, defaults));
    view_.reset(WEBKIT_WEB_VIEW(g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session,
                                                               "user-content-manager", contentManager_.get(),
                                                               "settings", settings_.get(), nullptr))));
    connectSignals();
    notifications_ = std::make_unique<PageNotifications>(view_.get(), uiDelegate_, configuration.notificationOrigins);
    context_.webViews[view_.get()] = this;

    // WebKitGTK starts the view's content process at its first load; the
    // desktop platform's web view starts it when the view is made. Doing the
    // same lets the process come up while the window is being built, instead
    // of after. An empty script in the shell's own world of the initial empty
    // document is what starts it: it has no effect, and the first load keeps
    // the process, since nothing was ever committed in it.
    webkit_web_view_evaluate_javascript(view_.get(), "void 0", -1, kShellScriptWorld, nullptr, nullptr, nullptr, nullptr);
}

// Each handler by its name in the shell's own world.
void GtkWebView::addScriptMessageHandler(const std::string& name, platform::ScriptMessageHandler& handler) {
    if (name.empty()) return;
    if (!webkit_user_content_manager_register_script_message_handler(contentManager_.get(), name.c_str(),
                                                                     kShellScriptWorld)) {
        return;  // the name is taken already
    }
    auto binding = std::make_unique<MessageBinding>(MessageBinding{this, name, &handler, 0});
    const std::string signal = "script-message-received::" + name;
    binding->signalId =
        g_signal_connect(contentManager_.get(), signal.c_str(), G_CALLBACK(&GtkWebView::onScriptMessage), binding.get());
    bindings_.push_back(std::move(binding));
}

void GtkWebView::addUserScript(const platform::UserScript& script) {
    // Only the shell's world reaches its message handlers.
    if (!script.forMainFrameOnly && !script.pageWorld) scriptsTopFrameOnly_ = false;
    const auto frames =
        script.forMainFrameOnly ? WEBKIT_USER_CONTENT_INJECT_TOP_FRAME : WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES;
    const auto time = script.injectAtDocumentEnd ? WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END
                                                 : WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START;
    g_autoptr(WebKitUserScript) native =
        script.pageWorld
            ? webkit_user_script_new(script.source.c_str(), frames, time, nullptr, nullptr)
            : webkit_user_script_new_for_world(script.source.c_str(), frames, time, kShellScriptWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(contentManager_.get(), native);
}

void GtkWebView::connectSignals() {
    g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(&GtkWebView::onDecidePolicy), this);
    g_signal_connect(view_.get(), "create", G_CALLBACK(&GtkWebView::onCreate), this);
    g_signal_connect(view_.get(), "script-dialog", G_CALLBACK(&GtkWebView::onScriptDialog), this);
    g_signal_connect(view_.get(), "run-file-chooser", G_CALLBACK(&GtkWebView::onRunFileChooser), this);
    g_signal_connect(view_.get(), "permission-request", G_CALLBACK(&GtkWebView::onPermissionRequest), this);
    g_signal_connect(view_.get(), "load-changed", G_CALLBACK(&GtkWebView::onLoadChanged), this);
    g_signal_connect(view_.get(), "load-failed", G_CALLBACK(&GtkWebView::onLoadFailed), this);
    g_signal_connect(view_.get(), "print", G_CALLBACK(&GtkWebView::onPrint), this);
    g_signal_connect(view_.get(), "web-process-terminated", G_CALLBACK(&GtkWebView::onWebProcessTerminated), this);
    g_signal_connect(view_.get(), "notify::is-web-process-responsive", G_CALLBACK(&GtkWebView::onResponsivenessChanged),
                     this);
    g_signal_connect(view_.get(), "user-message-received", G_CALLBACK(&GtkWebView::onUserMessage), this);
}

GtkWebView::~GtkWebView() {
    notifications_.reset();
    context_.webViews.erase(view_.get());
    if (context_.mainWebView == view_.get()) context_.mainWebView = nullptr;
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    for (const auto& binding : bindings_) {
        g_signal_handler_disconnect(contentManager_.get(), binding->signalId);
        webkit_user_content_manager_unregister_script_message_handler(contentManager_.get(), binding->name.c_str(),
                                                                      kShellScriptWorld);
    }
}

void GtkWebView::setAllowsBackForwardNavigationGestures(bool allow) {
    webkit_settings_set_enable_back_forward_navigation_gestures(settings_.get(), allow);
}

void GtkWebView::setCustomUserAgent(const std::string& userAgent) {
    // An empty agent restores the engine's default, as on the desktop platform.
    webkit_settings_set_user_agent(settings_.get(), userAgent.empty() ? nullptr : userAgent.c_str());
}

void GtkWebView::load(const platform::URLRequest& request) {
    // WebKitGTK takes neither a cache policy nor a timeout per request: the
    // network session's protocol cache policy and its own timeouts apply, so
    // both fields are left unused here.
    g_autoptr(WebKitURIRequest) native = webkit_uri_request_new(request.url.c_str());
    webkit_web_view_load_request(view_.get(), native);
}

void GtkWebView::reload() {
    // A page stuck in a loop never gets to a reload; a new process does.
    if (!webkit_web_view_get_is_web_process_responsive(view_.get())) webkit_web_view_terminate_web_process(view_.get());
    webkit_web_view_reload(view_.get());
}

void GtkWebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    webkit_web_view_load_html(view_.get(), html.c_str(), baseURL.empty() ? nullptr : baseURL.c_str());
}

bool GtkWebView::loadAlternateHTMLString(const std::string& html, const std::string& unreachableURL) {
    alternateUri_ = unreachableURL;
    // What the engine's own error page is made with: in the failed load's
    // place in the history, and reloading reloads the failed URL.
    webkit_web_view_load_alternate_html(view_.get(), html.c_str(), unreachableURL.c_str(), nullptr);
    return true;
}

double GtkWebView::pageZoom() const { return webkit_web_view_get_zoom_level(view_.get()); }

void GtkWebView::setPageZoom(double zoom) { webkit_web_view_set_zoom_level(view_.get(), zoom); }

std::string GtkWebView::url() const {
    const char* uri = webkit_web_view_get_uri(view_.get());
    return uri != nullptr ? uri : "";
}

std::string GtkWebView::currentHost() const { return hostOf(url()).value_or(std::string()); }

platform::SecurityOrigin GtkWebView::currentOrigin() const {
    const auto page = Url::parse(url());
    if (!page || !page->canonicalHost()) return {};
    const int port = page->port() ? std::atoi(page->port()->c_str()) : 0;
    if (page->port() && (port <= 0 || port > 65535)) return {};  // nothing the engine could have loaded
    return {page->scheme(), *page->canonicalHost(), port};
}

void GtkWebView::evaluateJavaScript(const std::string& script,
                                    std::function<void(platform::ScriptResult)> completion) {
    // The page's own world, as on the desktop platform: the shell's world
    // holds only its user scripts.
    webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, onJavaScriptEvaluated,
                                        new std::function<void(platform::ScriptResult)>(std::move(completion)));
}

void GtkWebView::onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* binding = static_cast<MessageBinding*>(data);
    // WebKitGTK tells neither the frame nor the origin of a message. Our
    // handlers exist only in the shell's own world, whose scripts run in the
    // top frame only, so a message comes from the top frame's document, which
    // is the page the view is showing.
    platform::ScriptMessage message;
    message.name = binding->name;
    message.fromMainFrame = binding->owner->scriptsTopFrameOnly_;
    message.securityOrigin = binding->owner->currentOrigin();
    if (value != nullptr && jsc_value_is_string(value)) {
        g_autofree gchar* text = jsc_value_to_string(value);
        message.textBody = std::string(text != nullptr ? text : "");
    }
    binding->handler->didReceiveScriptMessage(message);
}

gboolean GtkWebView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                    gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
        return view->decideNavigationAction(decision);
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
        return view->decideNewWindowAction(decision);
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
        return view->decideResponse(decision);
    default:
        return FALSE;
    }
}

platform::Initiator GtkWebView::initiatorOf(WebKitNavigationAction* native) const {
    platform::Initiator initiator;
    const auto caller = frames_.caller();
    if (caller) {
        initiator.frame = caller->info;
    } else if (!repeatsAnEarlierRequest(navigationTypeOf(webkit_navigation_action_get_navigation_type(native)))) {
        initiator.frame = requesterFrame(webkit_navigation_action_get_request(native));
    }
    // The engine knows whether a user action is behind it, and gives one to
    // the frame the user acted in; which one is the frame's latest press.
    if (webkit_navigation_action_is_user_gesture(native)) {
        initiator.userGesture = frames_.latestPress(caller ? std::optional(caller->id) : std::nullopt, 0);
    }
    return initiator;
}

platform::NavigationAction GtkWebView::navigationActionFrom(WebKitNavigationAction* native) const {
    platform::NavigationAction action;
    if (native == nullptr) return action;
    action.type = navigationTypeOf(webkit_navigation_action_get_navigation_type(native));
    WebKitURIRequest* request = webkit_navigation_action_get_request(native);
    const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    if (uri != nullptr && *uri != '\0') action.url = uri;
    action.initiator = initiatorOf(native);
    // WebKitGTK has no "should download" flag. A link with a download
    // attribute arrives as an ordinary link activation, and once it is
    // allowed the engine starts the download itself, which tellDownload()
    // then hands to the delegate with this action.
    action.shouldPerformDownload = false;
    return action;
}

gboolean GtkWebView::decideNavigationAction(WebKitPolicyDecision* decision) {
    if (navigationDelegate_ == nullptr) return FALSE;
    auto action = navigationActionFrom(
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
    g_object_ref(decision);
    navigationDelegate_->decidePolicyForNavigationAction(
        action, Completion<NavigationActionPolicy>(
                    [this, action, decision, alive = std::weak_ptr<int>(lifetime_)](NavigationActionPolicy policy) {
                        if (policy != NavigationActionPolicy::Cancel && action.url && alive.lock()) {
                            remember(allowedNavigations_, std::pair(*action.url, action));
                        }
                        applyPolicy(decision, policy);
                        g_object_unref(decision);
                    },
                    NavigationActionPolicy::Cancel));
    return TRUE;
}

gboolean GtkWebView::decideNewWindowAction(WebKitPolicyDecision* decision) {
    if (uiDelegate_ == nullptr) return FALSE;
    // A link with a target: WebKit would next ask for a new view ("create").
    // The answer is the same as for window.open, and no view is ever made.
    const auto action = navigationActionFrom(
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
    uiDelegate_->createWebViewForNavigationAction(action);
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

gboolean GtkWebView::decideResponse(WebKitPolicyDecision* decision) {
    if (navigationDelegate_ == nullptr) return FALSE;
    auto* responseDecision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(responseDecision);

    platform::NavigationResponse answer;
    const char* uri = response != nullptr ? webkit_uri_response_get_uri(response) : nullptr;
    if (uri != nullptr) {
        answer.url = uri;
        const auto parsed = Url::parse(uri);
        answer.isHTTP = parsed && (parsed->scheme() == "http" || parsed->scheme() == "https");
    }
    if (SoupMessageHeaders* headers = response != nullptr ? webkit_uri_response_get_http_headers(response) : nullptr) {
        if (const char* disposition = soup_message_headers_get_one(headers, "Content-Disposition")) {
            answer.contentDisposition = disposition;
        }
    }
    answer.canShowMIMEType = webkit_response_policy_decision_is_mime_type_supported(responseDecision);
    answer.forMainFrame = webkit_response_policy_decision_is_main_frame_main_resource(responseDecision);

    g_object_ref(decision);
    navigationDelegate_->decidePolicyForNavigationResponse(
        answer, Completion<NavigationResponsePolicy>(
                    [this, answer, decision, alive = std::weak_ptr<int>(lifetime_)](NavigationResponsePolicy policy) {
                        if (policy == NavigationResponsePolicy::Download && answer.url && alive.lock()) {
                            remember(downloadResponses_, std::pair(*answer.url, answer));
                        }
                        applyPolicy(decision, policy);
                        g_object_unref(decision);
                    },
                    NavigationResponsePolicy::Cancel));
    return TRUE;
}

GtkWidget* GtkWebView::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    if (view->uiDelegate_ != nullptr) {
        view->uiDelegate_->createWebViewForNavigationAction(view->navigationActionFrom(action));
    }
    return nullptr;
}

gboolean GtkWebView::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    platform::UIDelegate* ui = view->uiDelegate_;
    if (ui == nullptr) return FALSE;
    const std::string message = webkit_script_dialog_get_message(dialog);
    const auto frame = view->dialogFrame();

    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: {
        webkit_script_dialog_ref(dialog);
        ui->runJavaScriptAlertPanel(message, frame, Completion<>(std::function<void()>([dialog] {
                                        closeLater(dialog);
                                    })));
        return TRUE;
    }
    case WEBKIT_SCRIPT_DIALOG_CONFIRM: {
        webkit_script_dialog_ref(dialog);
        ui->runJavaScriptConfirmPanel(message, frame, Completion<bool>(
                                                   [dialog](bool confirmed) {
                                                       webkit_script_dialog_confirm_set_confirmed(dialog, confirmed);
                                                       closeLater(dialog);
                                                   },
                                                   false));
        return TRUE;
    }
    case WEBKIT_SCRIPT_DIALOG_PROMPT: {
        std::optional<std::string> defaultText;
        if (const char* text = webkit_script_dialog_prompt_get_default_text(dialog)) defaultText = text;
        webkit_script_dialog_ref(dialog);
        ui->runJavaScriptTextInputPanel(
            message, defaultText, frame,
            Completion<std::optional<std::string>>(
                [dialog](std::optional<std::string> text) {
                    // No text set means no value: the page's prompt() yields null.
                    if (text) webkit_script_dialog_prompt_set_text(dialog, text->c_str());
                    closeLater(dialog);
                },
                std::nullopt));
        return TRUE;
    }
    default:
        // The before-unload question is not the shell's to answer.
        return FALSE;
    }
}

gboolean GtkWebView::onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    if (view->uiDelegate_ == nullptr) return FALSE;
    platform::OpenPanelParameters parameters;
    parameters.allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request);
    // WebKitGTK's request cannot ask for folders.
    parameters.allowsDirectories = false;
    g_object_ref(request);
    view->uiDelegate_->runOpenPanel(
        parameters, Completion<std::optional<std::vector<std::string>>>(
                        [request](std::optional<std::vector<std::string>> paths) {
                            if (paths && !paths->empty()) {
                                std::vector<const gchar*> files;
                                for (const auto& path : *paths) files.push_back(path.c_str());
                                files.push_back(nullptr);
                                webkit_file_chooser_request_select_files(request, files.data());
                            } else {
                                webkit_file_chooser_request_cancel(request);
                            }
                            g_object_unref(request);
                        },
                        std::nullopt));
    return TRUE;
}

gboolean GtkWebView::onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    if (view->uiDelegate_ == nullptr || !WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) return FALSE;
    auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
    if (webkit_user_media_permission_is_for_display_device(media)) return FALSE;
    const bool audio = webkit_user_media_permission_is_for_audio_device(media);
    const bool video = webkit_user_media_permission_is_for_video_device(media);
    if (!audio && !video) return FALSE;
    const auto type = audio && video ? platform::MediaCaptureType::CameraAndMicrophone
                      : video        ? platform::MediaCaptureType::Camera
                                     : platform::MediaCaptureType::Microphone;
    g_object_ref(request);
    view->uiDelegate_->requestMediaCapturePermission(
        view->currentHost(), type,
        Completion<platform::PermissionDecision>(
            [request](platform::PermissionDecision decision) {
                // There is no prompt of the platform's own to fall back on:
                // anything but Grant is a refusal, as WebKitGTK's default is.
                if (decision == platform::PermissionDecision::Grant) {
                    webkit_permission_request_allow(request);
                } else {
                    webkit_permission_request_deny(request);
                }
                g_object_unref(request);
            },
            platform::PermissionDecision::Deny));
    return TRUE;
}

gboolean GtkWebView::onPrint(WebKitWebView*, WebKitPrintOperation*, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    if (view->uiDelegate_ == nullptr) return FALSE;
    // The engine tells no user action here: the asking frame's own press, if
    // it is recent, stands for one.
    platform::Initiator initiator;
    auto caller = view->frames_.takePrintCaller();
    if (const auto running = view->frames_.caller()) caller = running;
    if (caller) {
        initiator.frame = caller->info;
        initiator.userGesture = view->frames_.latestPress(caller->id, kPressMicroseconds);
    }
    // Handled here means ended: no dialog, nothing printed.
    return view->uiDelegate_->printFrame(initiator) ? FALSE : TRUE;
}

void GtkWebView::onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    view->frames_.forgetCalls();
    // Ended by reload(), which loads again by itself.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
    if (view->context_.mainWebView == view->view_.get()) view->context_.pageProcessGone = true;
    if (view->navigationDelegate_ != nullptr) view->navigationDelegate_->webContentProcessDidTerminate();
}

void GtkWebView::onResponsivenessChanged(WebKitWebView* view, GParamSpec*, gpointer self) {
    auto& context = static_cast<GtkWebView*>(self)->context_;
    if (view == context.mainWebView && !webkit_web_view_get_is_web_process_responsive(view)) pageStoppedAnswering(context);
}

gboolean GtkWebView::onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self) {
    return static_cast<GtkWebView*>(self)->frames_.receive(message) ? TRUE : FALSE;
}

std::optional<platform::FrameInfo> GtkWebView::dialogFrame() const {
    const auto caller = frames_.caller();
    return caller ? std::optional(caller->info) : std::nullopt;
}

bool GtkWebView::tellDownload(WebKitDownload* native, platform::Download& download) {
    WebKitURIRequest* request = webkit_download_get_request(native);
    const char* uri = request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
    if (navigationDelegate_ == nullptr || uri == nullptr) return false;
    const auto sameURL = [uri](const auto& entry) { return entry.first == uri; };
    // Newest first: a URL let through twice is downloaded for the later time.
    if (const auto found = std::find_if(downloadResponses_.rbegin(), downloadResponses_.rend(), sameURL);
        found != downloadResponses_.rend()) {
        const auto response = found->second;
        downloadResponses_.erase(std::next(found).base());
        navigationDelegate_->navigationResponseDidBecomeDownload(response, download);
        return true;
    }
    if (const auto found = std::find_if(allowedNavigations_.rbegin(), allowedNavigations_.rend(), sameURL);
        found != allowedNavigations_.rend()) {
        const auto action = found->second;
        allowedNavigations_.erase(std::next(found).base());
        navigationDelegate_->navigationActionDidBecomeDownload(action, download);
        return true;
    }
    return false;
}

void GtkWebView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    if (event == WEBKIT_LOAD_STARTED) {
        view->currentLoadFailed_ = false;
        if (view->context_.mainWebView == view->view_.get()) view->context_.pageProcessGone = false;
    } else if (event == WEBKIT_LOAD_COMMITTED) {
        view->committedOnce_ = true;
        // Committing runs no script: a call still open is one of a document
        // or a process that is gone.
        view->frames_.forgetCalls();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        // WebKitGTK ends a failed load with "finished" too, and then loads its
        // error page for the failed URL as a load of its own. Neither is a
        // navigation that finished.
        const bool errorPage = view->mainResponseStatus() == 0 &&
                               ((!view->failedUri_.empty() && view->url() == view->failedUri_) ||
                                (!view->alternateUri_.empty() && view->url() == view->alternateUri_));
        if (!view->currentLoadFailed_) {
            view->failedUri_.clear();
            view->alternateUri_.clear();
        }
        if (!view->currentLoadFailed_ && !errorPage && view->navigationDelegate_ != nullptr) {
            view->navigationDelegate_->didFinishNavigation();
        }
    }
}

gboolean GtkWebView::onLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar* failingUri, GError* error,
                                  gpointer self) {
    auto* view = static_cast<GtkWebView*>(self);
    view->currentLoadFailed_ = true;
    // A certificate the engine rejects arrives here too ("load-failed-with-tls-errors"
    // is left unhandled, which is no exception for it), as a GTlsError.
    if (view->navigationDelegate_ != nullptr && error != nullptr && failingUri != nullptr) {
        const char* domain = g_quark_to_string(error->domain);
        const platform::LoadFailure failure{failingUri, domain != nullptr ? domain : "", error->code,
                                            describeError(error)};
        if (view->navigationDelegate_->didFailNavigation(failure)) return TRUE;
    }
    // A navigation that fails before it commits (a scheme the engine cannot
    // show, a host that does not answer) leaves the page it started from, as
    // the desktop platform's web view does: replacing the application with
    // an error page would lose whatever the user was doing in it. Only the
    // very first load, with nothing to keep, gets the engine's error page.
    if (event == WEBKIT_LOAD_STARTED && view->committedOnce_) return TRUE;
    view->failedUri_ = failingUri != nullptr ? failingUri : "";
    return FALSE;  // WebKit shows its error page
}

guint GtkWebView::mainResponseStatus() const {
    // An error page is substitute content: no server answered for it.
    WebKitWebResource* resource = webkit_web_view_get_main_resource(view_.get());
    WebKitURIResponse* response = resource != nullptr ? webkit_web_resource_get_response(resource) : nullptr;
    return response != nullptr ? webkit_uri_response_get_status_code(response) : 0;
}

}  // namespace corvidale::gtk
