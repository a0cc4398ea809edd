#include "reach_controller.h"

#include <algorithm>
#include <utility>

#include "core/util/url.h"

namespace corvidale {
namespace {

// NSURLErrorDomain's codes.
std::optional<ReachProblem> foundationProblem(long code) {
    switch (code) {
    case -1009:  // not connected to the internet
    case -1018:  // international roaming off
    case -1020:  // data not allowed
        return ReachProblem::NoNetwork;
    case -1003:  // cannot find host
    case -1006:  // DNS lookup failed
        return ReachProblem::NameNotFound;
    case -1004:  // cannot connect to host
        return ReachProblem::Refused;
    case -1005:  // network connection lost
        return ReachProblem::ConnectionLost;
    case -1001:  // timed out
        return ReachProblem::TimedOut;
    default:
        // -1200 secure connection failed, -1201...-1206 the server's or the
        // client's certificate.
        if (code <= -1200 && code >= -1206) return ReachProblem::Insecure;
        return std::nullopt;
    }
}

// GIO's codes, which WebKitGTK passes on from its network layer.
std::optional<ReachProblem> gioProblem(long code) {
    switch (code) {
    case 37:  // host unreachable
    case 38:  // network unreachable
        return ReachProblem::NoNetwork;
    case 28:  // host not found
        return ReachProblem::NameNotFound;
    case 39:  // connection refused
        return ReachProblem::Refused;
    case 44:  // connection closed (reset by the peer too)
    case 45:  // not connected
        return ReachProblem::ConnectionLost;
    case 24:  // timed out
        return ReachProblem::TimedOut;
    default:
        return std::nullopt;
    }
}

std::string reasonOf(ReachProblem problem) {
    switch (problem) {
    case ReachProblem::NoNetwork: return "This computer isn't connected to a network.";
    case ReachProblem::NameNotFound: return "Its address couldn't be found; the network may be down.";
    case ReachProblem::Refused: return "Its server isn't accepting connections right now.";
    case ReachProblem::ConnectionLost: return "The connection to its server was cut off.";
    case ReachProblem::TimedOut: return "Its server took too long to answer.";
    case ReachProblem::Insecure:
        return "Its server's identity couldn't be verified, so the connection was stopped to keep your data safe.";
    }
    return {};
}

}  // namespace

std::optional<ReachProblem> reachProblemOf(const std::string& domain, long code) {
    if (domain == "NSURLErrorDomain") return foundationProblem(code);
    if (domain == "g-io-error-quark") return gioProblem(code);
    // Resolving a name: not found, or no answer (no network to ask over).
    if (domain == "g-resolver-error-quark") return code <= 1 ? std::optional(ReachProblem::NameNotFound) : std::nullopt;
    // The server hung up mid-handshake (G_TLS_ERROR_EOF): nothing was shown
    // to be wrong with who it is.
    if (domain == "g-tls-error-quark" && code == 6) return ReachProblem::ConnectionLost;
    // A handshake or a certificate that failed: never a way through.
    if (domain == "g-tls-error-quark") return ReachProblem::Insecure;
    return std::nullopt;
}

ShellPage unreachablePage(const std::string& host, ReachProblem problem) {
    return {"Corvidale can't reach " + host, reasonOf(problem) + " Corvidale tries again by itself.", "Try Again"};
}

double nextRetryDelay(double delaySeconds) { return std::min(delaySeconds * 2, kLongestRetrySeconds); }

ReachController::ReachController(platform::WebView& web, platform::MainQueue& queue, platform::Process& process,
                                 ShellPageController& shellPage, const AppOrigin& origin)
    : web_(web), process_(process), shellPage_(shellPage), origin_(origin), retries_(queue) {}

bool ReachController::didFailNavigation(const platform::LoadFailure& failure) {
    const auto problem = reachProblemOf(failure.domain, failure.code);
    // Another site's page (a sign-in), or the application's host on a port
    // a frame made up, keeps the engine's handling: the page shown stays, and
    // nothing tries that URL again.
    if (!problem || !origin_.ownsURL(failure.url)) return false;
    const auto page = unreachablePage(origin_.host(), *problem);
    // Once for each stretch out of reach, not for every retry.
    if (failedURL_ != failure.url) {
        process_.writeStderr("[reach] " + page.heading + ": " + reasonOf(*problem) + " " + failure.fullDescription);
    }
    failedURL_ = failure.url;
    screenInPlace_ = shellPage_.showInPlaceOf(page, failure.url);
    retries_.cancel();
    earlyRetryAllowed_ = networkCameBack_ = false;
    retries_.after(delay_, [this] { retry(); });
    retries_.after(lastDelay_, [this] {
        earlyRetryAllowed_ = true;
        if (networkCameBack_) retry();
    });
    lastDelay_ = delay_;
    delay_ = nextRetryDelay(delay_);
    return true;
}

bool ReachController::didFinishNavigation() {
    // The engine may report the screen's own load (macOS has no promise not
    // to): it stands where the failed URL would, and no retry left it yet.
    if (failedURL_ && shellPage_.isShowingInPlaceOf(*failedURL_) && web_.url() == *failedURL_) return false;
    startOver();
    shellPage_.pageDidFinishLoading();
    return true;
}

void ReachController::leave() { startOver(); }

void ReachController::startOver() {
    retries_.cancel();
    failedURL_.reset();
    delay_ = lastDelay_ = kFirstRetrySeconds;
}

void ReachController::networkChanged(bool available) {
    // A monitor that reports every route it sees come and go says "available"
    // again and again; only a change from no network to one is news.
    const bool cameBack = available && !networkAvailable_;
    networkAvailable_ = available;
    if (!cameBack || !failedURL_) return;
    if (earlyRetryAllowed_) {
        retry();
    } else {
        networkCameBack_ = true;
    }
}

void ReachController::retry() {
    if (!failedURL_) return;
    // One try for each failure: whichever comes first, the back-off or the
    // network, the other does nothing.
    retries_.cancel();
    earlyRetryAllowed_ = networkCameBack_ = false;
    // Through the screen when it still knows itself. Otherwise the engine
    // reloads the failed URL where the screen took its place; where it
    // could not, a reload would reload the screen, so the URL is loaded.
    if (shellPage_.isShowingInPlaceOf(*failedURL_)) {
        shellPage_.reload();
    } else if (screenInPlace_) {
        web_.reload();
    } else {
        web_.load({*failedURL_, platform::CachePolicy::UseProtocolCachePolicy, 60.0});
    }
}

}  // namespace corvidale
