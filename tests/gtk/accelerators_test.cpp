#include "accelerators.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include "core/app/menu_model.h"

namespace corvidale::gtk {
namespace {

using Accelerators = std::vector<std::string>;

TEST(Accelerators, CommandBecomesPrimaryAndUpperCaseAddsShift) {
    EXPECT_EQ(acceleratorsForKeyEquivalent("q"), (Accelerators{"<Primary>q"}));
    EXPECT_EQ(acceleratorsForKeyEquivalent("Z"), (Accelerators{"<Primary><Shift>z"}));
    EXPECT_EQ(acceleratorsForKeyEquivalent("0"), (Accelerators{"<Primary>0"}));
}

TEST(Accelerators, ZoomKeysWorkOnEveryKeyboardLayout) {
    EXPECT_EQ(acceleratorsForKeyEquivalent("+"), (Accelerators{"<Primary>plus", "<Primary>equal", "<Primary>KP_Add"}));
    const auto minus = acceleratorsForKeyEquivalent("-");
    ASSERT_FALSE(minus.empty());
    EXPECT_EQ(minus.front(), "<Primary>minus");
}

TEST(Accelerators, NoKeyMeansNoAccelerator) {
    EXPECT_TRUE(acceleratorsForKeyEquivalent("").empty());
    EXPECT_TRUE(acceleratorsForKeyEquivalent("ab").empty());
    EXPECT_TRUE(acceleratorsForKeyEquivalent("\xff").empty());
}

TEST(Accelerators, EveryKeyOfTheShellsMenuIsAnAcceleratorGtkUnderstands) {
    int checked = 0;
    for (const auto& menu : buildMainMenu().menus) {
        for (const auto& item : menu.items) {
            if (item.keyEquivalent.empty()) continue;
            const auto accelerators = acceleratorsForKeyEquivalent(item.keyEquivalent);
            ASSERT_FALSE(accelerators.empty()) << item.title;
            for (const auto& accelerator : accelerators) {
                guint key = 0;
                GdkModifierType modifiers = GdkModifierType(0);
                EXPECT_TRUE(gtk_accelerator_parse(accelerator.c_str(), &key, &modifiers)) << accelerator;
                EXPECT_NE(key, 0u) << accelerator;
                EXPECT_TRUE(modifiers & GDK_CONTROL_MASK) << accelerator;
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 10);
}

TEST(MenuLabel, ShowsUnderscoresInsteadOfMakingMnemonics) {
    EXPECT_EQ(menuLabel("Save_As"), "Save__As");
    EXPECT_EQ(menuLabel("Check for Updates…"), "Check for Updates…");
}

}  // namespace
}  // namespace corvidale::gtk
