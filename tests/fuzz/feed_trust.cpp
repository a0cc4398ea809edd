// A feed's rollout and, for a bundle that requires one, its signature (the input past a NUL byte): a release or a
// feed failure, no signature passing that the pinned key did not make, and only an unreadable rollout malformed.
#include "core/updater/failure.h"
#include "core/updater/feed.h"
#include "fuzz.h"

using namespace corvidale::updater;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = asText(data, size);
    const std::size_t nul = input.find('\0');
    corvidale::platform::URLResponse response{true, 200, false, std::string(input.substr(0, nul)), "", ""};
    FeedTrust trust;
    if (nul != std::string_view::npos) {
        trust = {true, SigningPins{{std::string(64, 'a')}, 1}, 1'800'000'000, std::string(input.substr(nul + 1))};
    }
    try {
        const auto release = readFeed(response, "https://updates.example.com/linux.json", {"com.corvidale.desktop", 41},
                                      trust);
        FUZZ_CHECK(!trust.required);
        if (!release) return 0;
        const auto& rollout = release->rollout;
        FUZZ_CHECK(rollout.form != Rollout::Form::Valid || (rollout.hours >= 1 && rollout.hours <= kMaxRolloutHours));
        for (const double position : {0.0, 0.5, 0.999}) {
            const auto decision = rolloutDecision(rollout, position, rollout.start + rollout.hours * 1800);
            FUZZ_CHECK((decision == RolloutDecision::Malformed) == (rollout.form == Rollout::Form::Malformed));
            FUZZ_CHECK(decision != RolloutDecision::Wait || (rollout.form == Rollout::Form::Valid && position > 0.5));
        }
    } catch (const Failure& failure) {
        FUZZ_CHECK(failure.kind() == Failure::Kind::Feed);
    }
    return 0;
}
