// The image tool's check of "unsquashfs -lln" output, which the image itself decides.
#include <cstring>

#include "fuzz.h"
#include "image/listing.h"

using namespace corvidale::tools;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = asText(data, size);
    ListingCheck check;
    try {
        while (!rest.empty()) {
            const std::string line(takeLine(rest));
            check(line);
            // An entry the check let through is a file, folder or link without set-ID bits.
            if (isModeString(line)) {
                FUZZ_CHECK(std::string_view("-dl").find(line[0]) != std::string_view::npos);
                FUZZ_CHECK(line[3] != 's' && line[3] != 'S' && line[6] != 's' && line[6] != 'S');
            }
        }
        FUZZ_CHECK(check.bytes <= kMaxExtractedBytes && check.entries <= kMaxEntries);
    } catch (const ToolError&) {
    }
    return 0;
}
