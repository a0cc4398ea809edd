// Camera and microphone: the web application's own pages get them, a sign-in
// page shown in the window does not, and nobody is asked.
#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class MediaTest : public E2eTest {};

// Asks for camera and microphone as soon as it has loaded and reports
// "media <host> granted <kind:label,...>" or "media <host> denied <error name>".
// With `next`, the whole view is then a link to it.
std::string capturePage(const std::string& next) {
    return std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>Capture</title>") + kReportScript +
           R"HTML(<style>
html, body { margin: 0; height: 100%; }
#go { position: fixed; inset: 0; display: flex; align-items: center; justify-content: center;
      font: 32px sans-serif; background: #2a6f4e; color: #fff; text-decoration: none; }
</style></head><body><a id="go" href=")HTML" +
           (next.empty() ? std::string("#") : next) + R"HTML(">capture</a>
<script>
var where = 'media ' + location.hostname + ' ';
window.addEventListener('load', function () {
  navigator.mediaDevices.getUserMedia({ video: true, audio: true }).then(function (stream) {
    var tracks = stream.getTracks().map(function (track) { return track.kind + ':' + track.label; });
    tracks.sort();
    stream.getTracks().forEach(function (track) { track.stop(); });
    return report(where + 'granted ' + tracks.join(','));
  }, function (error) {
    return report(where + 'denied ' + error.name);
  }).then(function () { report('answered ' + location.hostname); });
});
</script></body></html>)HTML";
}

TEST_F(MediaTest, TheOriginsPagesGetCameraAndMicrophoneASignInPageDoesNot) {
    server().page("/meeting", capturePage(server().url(kSignInHost, "/signin")));
    server().page("/signin", capturePage(""));

    x11::WindowWatcher watcher(display());
    {
        LaunchOptions options;
        options.arguments = {"-WebKitMockCaptureDevices", "YES"};
        auto app = launchAt("/meeting", options);
        app->window(kStartTimeout);

        const std::string appPrefix = std::string("media ") + kAppHost + " ";
        const auto onOrigin = server().waitForReport(appPrefix, kStartTimeout);
        ASSERT_TRUE(onOrigin) << server().describeTraffic() << app->describe();
        EXPECT_EQ(*onOrigin, appPrefix + "granted audio:Mock audio device 1,video:Mock video device 1");

        // Followed by a real click, the sign-in page is the top-level page.
        ASSERT_TRUE(server().waitForExactReport(std::string("answered ") + kAppHost, kEventTimeout));
        clickPage(*app);
        const std::string signInPrefix = std::string("media ") + kSignInHost + " ";
        const auto onSignIn = server().waitForReport(signInPrefix, kEventTimeout);
        ASSERT_TRUE(onSignIn) << server().describeTraffic() << app->describe();
        EXPECT_EQ(*onSignIn, signInPrefix + "denied NotAllowedError");

        // Both answers came without a window of the shell's own.
        EXPECT_EQ(watcher.mappedNames(), std::vector<std::string>{"Corvidale"})
            << "windows shown:\n" << joinLines(watcher.mappedNames());
        EXPECT_TRUE(profile().opened().empty()) << joinLines(profile().opened());
        closeWithKeyboardAndExpectCleanExit(*app);
    }

    // Without the switch the fake devices are not there: whatever this
    // machine has, the page does not get them.
    const size_t before = server().reports().size();
    auto app = launchAt("/meeting");
    app->window(kStartTimeout);
    std::string answer;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto all = server().reports();
            for (size_t i = before; i < all.size(); ++i) {
                if (all[i].rfind(std::string("media ") + kAppHost + " ", 0) == 0) answer = all[i];
            }
            return !answer.empty();
        },
        kStartTimeout))
        << server().describeTraffic();
    EXPECT_EQ(answer.find("Mock"), std::string::npos) << answer;
    RecordProperty("without_switch", answer);
    closeWithKeyboardAndExpectCleanExit(*app);
}

}  // namespace
}  // namespace corvidale::e2e
