#include "rendering.h"

#include <gtest/gtest.h>

namespace corvidale::gtk {
namespace {

TEST(Rendering, SoftwareGLIsMesasFlagOrNoGPU) {
    const struct {
        const char* alwaysSoftware;
        bool renderNode, software;
    } cases[] = {{nullptr, true, false}, {nullptr, false, true}, {"1", true, true},   {"TRUE", true, true},
                 {"yes", true, true},    {"0", true, false},     {"false", true, false}, {"", true, false},
                 {"0", false, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(glIsSoftware(c.alwaysSoftware, c.renderNode), c.software) << (c.alwaysSoftware ? c.alwaysSoftware : "-");
    }
}

TEST(Rendering, CairoWithoutGDKsGLOnlyOnSoftwareGLAndNeverOverTheUsersSettings) {
    EXPECT_EQ(gskRendererFor(nullptr, true), "cairo");
    for (const auto* user : {"gl", "", "ngl"}) EXPECT_EQ(gskRendererFor(user, true), std::nullopt) << user;
    EXPECT_EQ(gskRendererFor(nullptr, false), std::nullopt);

    using Set = std::pair<std::string, std::string>;
    EXPECT_EQ(gdkWithoutGL(true, nullptr, nullptr, 8), Set("GDK_DEBUG", "gl-disable"));
    EXPECT_EQ(gdkWithoutGL(true, nullptr, nullptr, 16), Set("GDK_DISABLE", "gl"));
    EXPECT_EQ(gdkWithoutGL(false, nullptr, nullptr, 8), std::nullopt);
    EXPECT_EQ(gdkWithoutGL(true, "", nullptr, 8), std::nullopt);
    EXPECT_EQ(gdkWithoutGL(true, nullptr, "vulkan", 16), std::nullopt);
}

}  // namespace
}  // namespace corvidale::gtk
