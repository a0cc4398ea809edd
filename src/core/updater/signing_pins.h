#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace corvidale::updater {

// Info.plist keys of a Linux bundle: the key ids it takes updates from,
// separated by commas, and how many of them must have signed.
inline constexpr const char* kPinnedKeysKey = "CorvidaleTeamIdentifier";
inline constexpr const char* kSigningThresholdKey = "CorvidaleSigningThreshold";

struct SigningPins {
    std::set<std::string> keys;
    std::size_t threshold = 1;
};

// A key id as the signing tool prints it: 64 lower-case hex digits.
bool isKeyId(std::string_view text);

// "id[,id...]" and a threshold from 1 to the number of distinct ids (absent:
// 1). Anything else, no id included, pins nothing: no update is taken.
std::optional<SigningPins> parsePins(std::string_view keys, std::optional<std::string_view> threshold);

// How many distinct pinned keys are among `signers`; others count nothing.
std::size_t pinnedAmong(const SigningPins& pins, const std::vector<std::string>& signers);

}  // namespace corvidale::updater
