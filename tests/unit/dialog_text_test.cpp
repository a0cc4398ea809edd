#include <gtest/gtest.h>

#include "core/web/page_dialogs.h"

namespace corvidale {
namespace {

TEST(PageDialogText, CutsLongTextOnACharacterBoundaryWithAnEllipsis) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::string shown;
    };
    const std::string e = "\xC3\xA9";              // é, two bytes
    const std::string crow = "\xF0\x9F\x90\xA6";   // a bird, four bytes
    const std::vector<Case> cases = {
        {"", 3, ""},
        {"abc", 3, "abc"},                          // at the limit: whole
        {"abcd", 3, "abc…"},
        {e + e + e, 3, e + e + e},                  // three characters, six bytes
        {e + e + e + e, 3, e + e + e + "…"},
        {"a" + crow + crow + "b", 2, "a" + crow + "…"},
        {"ab\xA9\xA9" "cd", 2, "ab\xA9\xA9…"},      // stray continuation bytes stay with "b"
        {"\xFF\xFE" "x", 1, "\xFF…"},
        {"abc", 0, "…"},
    };
    for (const auto& c : cases) EXPECT_EQ(pageDialogText(c.text, c.limit), c.shown) << c.text;

    // The limit itself: 10 000 characters stay whole, one more is cut.
    EXPECT_EQ(pageDialogText(std::string(kPageDialogTextLimit, 'x')).size(), kPageDialogTextLimit);
    std::string huge;
    for (int i = 0; i < 2'000'000; ++i) huge += e;
    const auto shown = pageDialogText(huge);
    EXPECT_EQ(shown.size(), 2 * kPageDialogTextLimit + std::string("…").size());
    EXPECT_EQ(shown.substr(shown.size() - 5), e + "…");
}

}  // namespace
}  // namespace corvidale
