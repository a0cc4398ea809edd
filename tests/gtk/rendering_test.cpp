#include "rendering.h"

#include <gtest/gtest.h>

#include <map>

namespace corvidale::gtk {
namespace {

TEST(Rendering, SoftwareGLIsMesasFlagOrNoGPU) {
    const struct { const char* flag; bool renderNode, software; } cases[] = {
        {nullptr, true, false}, {nullptr, false, true}, {"1", true, true},   {"TRUE", true, true},
        {"yes", true, true},    {"0", true, false},     {"false", true, false}, {"", true, false}, {"0", false, true}};
    for (const auto& c : cases) EXPECT_EQ(glIsSoftware(c.flag, c.renderNode), c.software) << (c.flag ? c.flag : "-");
}

TEST(Rendering, SoftwareDrawingOnlyOnSoftwareGLAndNeverOverWhatTheUserSet) {
    using User = std::map<std::string, std::string>;
    const Variables::value_type cairo{"GSK_RENDERER", "cairo"};
    const Variables::value_type noDevice{"WEBKIT_WEB_RENDER_DEVICE_FILE", "/dev/dri/none"};
    const Variables cairoOnly{cairo, noDevice};
    const Variables all8{cairo, {"GDK_DEBUG", "gl-disable"}, {"WEBKIT_DISABLE_DMABUF_RENDERER", "1"}, noDevice};
    const Variables all16{cairo, {"GDK_DISABLE", "gl"}, {"WEBKIT_DISABLE_DMABUF_RENDERER", "1"}, noDevice};
    const struct { User user; bool software; unsigned minor; Variables expected; } cases[] = {
        {{}, true, 8, all8},   {{}, true, 16, all16},   {{}, false, 8, {}},
        {{{"GSK_RENDERER", "gl"}}, true, 8, {}},   {{{"GSK_RENDERER", ""}}, true, 8, {}},
        {{{"GDK_DEBUG", "events"}}, true, 8, cairoOnly},   {{{"GDK_DISABLE", "vulkan"}}, true, 16, cairoOnly},
        {{{"WEBKIT_DISABLE_DMABUF_RENDERER", "0"}}, true, 8, cairoOnly},
        {{{"WEBKIT_WEB_RENDER_DEVICE_FILE", "/dev/dri/renderD129"}}, true, 16, {all16.begin(), all16.end() - 1}},
    };
    for (const auto& c : cases) {
        const auto lookup = [&](const char* name) {
            const auto found = c.user.find(name);
            return found == c.user.end() ? nullptr : found->second.c_str();
        };
        EXPECT_EQ(softwareRenderingVariables(lookup, c.software, c.minor), c.expected) << c.user.size() << c.minor;
    }
}

}  // namespace
}  // namespace corvidale::gtk
