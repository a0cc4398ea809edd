#include <gtest/gtest.h>

#include "web_view.h"
#include "window.h"

namespace corvidale::gtk {
namespace {

TEST(SavedFrame, AcceptsTwoSaneWholeNumbersOnly) {
    int width = 0;
    int height = 0;
    ASSERT_TRUE(parseSavedFrame("900 650", width, height));
    EXPECT_EQ(width, 900);
    EXPECT_EQ(height, 650);
    EXPECT_TRUE(parseSavedFrame(" 420 480 ", width, height));

    width = height = -5;
    for (const char* bad : {"", "900", "900 x", "0 650", "900 -1", "99999 650", "1 2 3", "abc def", "900,650"}) {
        EXPECT_FALSE(parseSavedFrame(bad, width, height)) << bad;
    }
    EXPECT_EQ(width, -5);  // left alone on failure
}

TEST(ErrorDescription, NamesDomainCodeAndMessage) {
    GError* error = g_error_new_literal(g_quark_from_static_string("WebKitDownloadError"), 400, "Operation was cancelled");
    EXPECT_EQ(describeError(error), "Error Domain=WebKitDownloadError Code=400 \"Operation was cancelled\"");
    g_error_free(error);
    EXPECT_FALSE(describeError(nullptr).empty());
}

}  // namespace
}  // namespace corvidale::gtk
