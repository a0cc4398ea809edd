#include "signing_pins.h"

namespace corvidale::updater {

bool isKeyId(std::string_view text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<SigningPins> parsePins(std::string_view keys, std::optional<std::string_view> threshold) {
    SigningPins pins;
    while (true) {
        const std::size_t comma = keys.find(',');
        if (!isKeyId(keys.substr(0, comma))) return std::nullopt;
        pins.keys.insert(std::string(keys.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        keys.remove_prefix(comma + 1);
    }
    if (threshold) {
        if (threshold->empty() || threshold->size() > 2 ||
            threshold->find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        pins.threshold = std::stoul(std::string(*threshold));
    }
    if (pins.threshold < 1 || pins.threshold > pins.keys.size()) return std::nullopt;
    return pins;
}

std::size_t pinnedAmong(const SigningPins& pins, const std::vector<std::string>& signers) {
    std::set<std::string> counted;
    for (const std::string& signer : signers) {
        if (pins.keys.contains(signer)) counted.insert(signer);
    }
    return counted.size();
}

}  // namespace corvidale::updater
