// The signing tool's reading of a seal: its public key, its signature and the
// manifest, which the tool compares line by line with the bundle's own. The
// input is two manifests split at the first blank line (a manifest has none).
#include <cctype>
#include <cstring>
#include <string>

#include "codesign/keys.h"
#include "codesign/manifest.h"
#include "common/fs.h"
#include "fuzz.h"

using namespace corvidale::tools;

namespace {

// Undoes encodeName(); a name that reads back differently was not encoded one-to-one.
std::string decodeName(const std::string& encoded) {
    std::string raw;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            FUZZ_CHECK(std::strchr("._-+,@~/", encoded[i]) != nullptr || std::isalnum(static_cast<unsigned char>(encoded[i])));
            raw += encoded[i];
            continue;
        }
        FUZZ_CHECK(i + 2 < encoded.size() && std::isxdigit(static_cast<unsigned char>(encoded[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(encoded[i + 2])));
        raw += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return raw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(asText(data, size));
    FUZZ_CHECK(decodeName(encodeName(input)) == input);

    const auto blank = input.find("\n\n");
    const std::string expected = input.substr(0, blank);
    const std::string actual = blank == std::string::npos ? std::string() : input.substr(blank + 2);
    const auto lines = describeDifferences(expected, actual, 20);
    FUZZ_CHECK(!lines.empty() && lines.size() <= 20);
    for (const auto& line : lines) {
        FUZZ_CHECK(line.starts_with("removed: ") || line.starts_with("changed: ") || line.starts_with("added: ") ||
                   (lines.size() == 1 && line == "the manifest differs from the bundle"));
    }
    // OpenSSL sets up its decoders for every key it reads, slowly; text
    // without a PEM header gives it nothing to decode anyway.
    if (input.find("-----BEGIN") == std::string::npos) return 0;
    try {
        const Key key = publicKeyFromPem(input);
        FUZZ_CHECK(!verify(key.get(), expected, actual));
    } catch (const ToolError&) {
    }
    return 0;
}
