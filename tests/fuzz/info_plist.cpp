// An Info.plist, XML or binary, as the updater reads it from a downloaded bundle.
#include "bundle.h"
#include "core/updater/version.h"
#include "fuzz.h"

using namespace corvidale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    onWorkerStack([&] {
        const auto info = gtk::InfoPlist::fromBytes(asText(data, size));
        const auto build = info.value("CFBundleVersion");
        const auto number = updater::buildFromInfo(build);
        // A build number comes from a decimal string and nothing else.
        if (number != 0) {
            FUZZ_CHECK(build && build->kind == platform::PlistValue::Kind::String);
            FUZZ_CHECK(updater::parseDecimal(build->text) == number);
        }
    });
    return 0;
}
