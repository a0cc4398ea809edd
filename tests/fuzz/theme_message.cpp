// A theme message as any page in the window can post it. The first byte holds
// two flags (main frame, text body); then lines: handler name, the frame's host, body.
#include "../unit/fake.h"
#include "core/web/theme_bridge.h"
#include "fuzz.h"

using namespace corvidale;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view rest = asText(data + 1, size - 1);
    platform::ScriptMessage message;
    message.fromMainFrame = (data[0] & 1) != 0;
    message.name = takeLine(rest);
    message.securityOriginHost = takeLine(rest);
    if ((data[0] & 2) != 0) message.textBody = std::string(rest);

    corvidale::testing::Fake fake;
    ThemeBridge bridge(fake, fake, fake, std::string("app.example.com"));
    bridge.didReceiveScriptMessage(message);
    const bool accepted = message.name == kThemeHandlerName && message.fromMainFrame &&
                          message.securityOriginHost == "app.example.com" && message.textBody;
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
