#include "rendering.h"

#include <gtest/gtest.h>

namespace corvidale::gtk {
namespace {

TEST(Rendering, SoftwareGLIsMesasFlagOrNoGPU) {
    struct Case {
        const char* alwaysSoftware;
        bool renderNode;
        bool software;
    } cases[] = {
        {nullptr, true, false}, {nullptr, false, true}, {"1", true, true},   {"TRUE", true, true},
        {"yes", true, true},    {"0", true, false},     {"false", true, false}, {"", true, false},
        {"0", false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(glIsSoftware(c.alwaysSoftware, c.renderNode), c.software)
            << (c.alwaysSoftware ? c.alwaysSoftware : "(unset)") << " render node " << c.renderNode;
    }
}

TEST(Rendering, CairoOnlyOnSoftwareGLAndNeverOverTheUsersChoice) {
    EXPECT_EQ(gskRendererFor(nullptr, true), "cairo");
    EXPECT_EQ(gskRendererFor(nullptr, false), std::nullopt);
    EXPECT_EQ(gskRendererFor("gl", true), std::nullopt);
    EXPECT_EQ(gskRendererFor("", true), std::nullopt);
    EXPECT_EQ(gskRendererFor("vulkan", false), std::nullopt);
}

}  // namespace
}  // namespace corvidale::gtk
