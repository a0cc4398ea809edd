#pragma once

#include <string>

#include "core/platform/platform.h"

namespace corvidale {

inline constexpr double kUserAgentWaitSeconds = 2.0;

// The default web view's user agent, or the empty text when it is not known
// within kUserAgentWaitSeconds. Main thread; keeps the main loop running
// while it waits so the engine's answer can arrive.
std::string defaultUserAgent(platform::Platform& platform);

// defaultUserAgent() + " CorvidaleShell/<platform word>-<build stamp>".
std::string composeUserAgent(platform::Platform& platform, const std::string& buildStamp);

}  // namespace corvidale
