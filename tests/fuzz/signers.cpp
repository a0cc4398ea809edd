// Who signed an update: an Info.plist's pins and threshold (two lines), then the signing tool's details of a
// seal, taken only with exactly one team line; the same lines as a signature folder's names, a whole seal or none.
#include "codesign/seal.h"
#include "common/fs.h"
#include "core/updater/tool_table.h"
#include "fuzz.h"

using namespace corvidale::updater;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = asText(data, size);
    const auto keys = takeLine(rest), threshold = takeLine(rest);
    const auto pins = parsePins(keys, threshold.empty() ? std::nullopt : std::optional(threshold));
    if (pins) FUZZ_CHECK(!pins->keys.empty() && pins->threshold >= 1 && pins->threshold <= pins->keys.size());
    std::vector<std::string> names;
    int teamLines = 0;
    for (std::string_view lines = rest; !lines.empty();) {
        names.emplace_back(takeLine(lines));
        teamLines += names.back().starts_with("TeamIdentifier=");
    }
    FUZZ_CHECK(!signedByPins(rest, toolTable(TargetSystem::Linux), pins) || (pins && teamLines == 1));
    try {
        const std::size_t signers = corvidale::tools::sealSigners(names);
        FUZZ_CHECK(signers >= 1 && signers <= corvidale::tools::kMaxSigners && names.size() == 2 * signers + 1);
    } catch (const corvidale::tools::ToolError&) {
    }
    return 0;
}
