// A theme message as any page in the window can post it. The first byte holds
// two flags (main frame, text body), the second the origin's port; then lines:
// handler name, the origin's scheme, its host, body.
#include "../unit/fake.h"
#include "core/util/curl_url.h"
#include "core/web/theme_bridge.h"
#include "fuzz.h"

using namespace corvidale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::string_view rest = asText(data + 2, size - 2);
    platform::ScriptMessage message;
    message.fromMainFrame = (data[0] & 1) != 0;
    message.securityOrigin.port = data[1] == 1 ? 8443 : data[1];
    message.name = takeLine(rest);
    message.securityOrigin.protocol = takeLine(rest);
    message.securityOrigin.host = takeLine(rest);
    if ((data[0] & 2) != 0) message.textBody = std::string(rest);

    corvidale::testing::Fake fake;
    const auto origin = *AppOrigin::parse("https://app.example.com:8443");
    ThemeBridge bridge(fake, fake, fake, fake, origin);
    bridge.didReceiveScriptMessage(message);
    const auto& from = message.securityOrigin;
    // The engine writes schemes and hosts in small letters; written otherwise they are the same origin.
    const bool accepted = message.name == kThemeHandlerName && message.fromMainFrame && asciiLower(from.protocol) == "https" &&
                          asciiLower(from.host) == "app.example.com" && from.port == 8443 && message.textBody;
    if (!accepted) {
        FUZZ_CHECK(fake.stored.empty() && !fake.look && fake.err.empty());
        return 0;
    }
    const bool light = *message.textBody == "light";
    FUZZ_CHECK(fake.stored.at(std::string(kLastAppThemeKey)) == (light ? "light" : "dark"));
    FUZZ_CHECK(fake.look == (light ? platform::Appearance::Light : platform::Appearance::Dark));
    FUZZ_CHECK(fake.err.size() == 1 && fake.err[0] == "[theme] window appearance → " + *message.textBody);
    // The same theme again changes nothing that shows.
    bridge.didReceiveScriptMessage(message);
    FUZZ_CHECK(fake.err.size() == 1);
    return 0;
}
