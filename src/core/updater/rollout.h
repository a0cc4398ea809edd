#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/platform/defaults.h"

namespace corvidale::updater {

// The user default that holds this installation's place in every staged
// rollout: a number in [0, 1), drawn once, never sent anywhere.
inline constexpr const char* kRolloutPositionKey = "updateRolloutPosition";
inline constexpr std::int64_t kMaxRolloutHours = 720;

// A release's staged rollout as its feed gave it: none (everybody at once),
// a start and a length, or a form no client can read.
struct Rollout {
    enum class Form { None, Valid, Malformed };
    Form form = Form::None;
    std::int64_t start = 0;  // seconds since 1970, UTC
    std::int64_t hours = 0;
};

enum class RolloutDecision { Take, Wait, Malformed };

// Whether an automatic check takes the release now: once the share of the
// rollout that has passed reaches `position`. Before the start nobody takes
// it, after the end everybody does; a malformed rollout holds it back.
RolloutDecision rolloutDecision(const Rollout& rollout, double position, std::int64_t now);

// "YYYY-MM-DDTHH:MM:SS[.fraction]Z" (or "+00:00"), as seconds since 1970;
// nothing for any other text or an impossible date.
std::optional<std::int64_t> parseUTCTime(std::string_view text);

// "0" or "0." and up to 17 digits: the only texts taken for a position.
std::optional<double> parseRolloutPosition(std::string_view text);

// This installation's position; one that is missing, planted or damaged is
// replaced by a fresh draw from the system's random source.
double rolloutPosition(platform::Defaults& defaults);

}  // namespace corvidale::updater
