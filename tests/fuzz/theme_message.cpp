// A theme message as any page in the window can post it. The first byte holds
// two flags (main frame, text body), the second the origin's port; then lines:
// handler name, the origin's scheme, its host, body.
#include "../unit/fake.h"
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

    const auto origin = *AppOrigin::parse("https://app.example.com:8443");
    // What one message does to a window that starts dark and has stored nothing.
    const auto post = [&](const platform::ScriptMessage& m) {
        auto fake = std::make_unique<corvidale::testing::Fake>();
        corvidale::testing::FakeWebView web(*fake, {});
        ThemeBridge bridge(*fake, *fake, *fake, *fake, origin, web);
        bridge.didReceiveScriptMessage(m);
        bridge.didReceiveScriptMessage(m);  // the same theme again shows nothing new
        return fake;
    };
    const auto fake = post(message);
    if (fake->stored.empty()) {
        FUZZ_CHECK(!fake->look && fake->err.empty());
        return 0;
    }
    // Taken: "light" is light and anything else dark, stored as the word and shown once.
    const bool light = message.textBody == "light";
    FUZZ_CHECK(fake->stored.at(std::string(kLastAppThemeKey)) == (light ? "light" : "dark"));
    FUZZ_CHECK(fake->look == (light ? platform::Appearance::Light : platform::Appearance::Dark));
    FUZZ_CHECK(fake->err == std::vector<std::string>{"[theme] window appearance → " + *message.textBody});
    // The same message from a frame, another port, another host or plain http changes nothing.
    auto frame = message, port = message, host = message, http = message;
    frame.fromMainFrame = false;
    port.securityOrigin.port = 8444;
    host.securityOrigin.host = "x" + host.securityOrigin.host;
    http.securityOrigin.protocol = "http";
    for (const auto& other : {frame, port, host, http}) FUZZ_CHECK(post(other)->stored.empty());
    return 0;
}
