#include "rendering.h"

#include <fcntl.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include "core/util/posix.h"

namespace corvidale::gtk {
namespace {

// Not a device node anywhere: /dev/dri holds only card* and renderD* nodes.
constexpr const char* kNoRenderDevice = "/dev/dri/none";

bool software = false;
Variables variablesSet;

// A render node that opens is a GPU that Mesa can use; without one, Mesa
// falls back to llvmpipe.
bool renderNodeUsable() {
    g_autoptr(GDir) folder = g_dir_open("/dev/dri", 0, nullptr);
    if (folder == nullptr) return false;
    bool usable = false;
    while (const char* name = g_dir_read_name(folder)) {
        if (!g_str_has_prefix(name, "renderD")) continue;
        g_autofree gchar* path = g_build_filename("/dev/dri", name, nullptr);
        if (const Fd fd(::open(path, O_RDWR | O_CLOEXEC)); fd) {
            usable = true;
            break;
        }
    }
    return usable;
}

}  // namespace

bool glIsSoftware(const char* alwaysSoftware, bool renderNode) {
    if (alwaysSoftware != nullptr) {
        for (const char* yes : {"1", "true", "y", "yes"}) {
            if (g_ascii_strcasecmp(alwaysSoftware, yes) == 0) return true;
        }
    }
    return !renderNode;
}

Variables softwareRenderingVariables(const std::function<const char*(const char*)>& userValue, bool softwareGL,
                                     unsigned gtkMinorVersion) {
    if (!softwareGL || userValue("GSK_RENDERER") != nullptr) return {};
    Variables variables{{"GSK_RENDERER", "cairo"}};
    // With cairo drawing, GDK need not set GL up at all (40 ms of startup on
    // llvmpipe). The web engine then must not ask GDK for GL either, or it
    // warns that GL failed: its DMA-BUF renderer is what asks, and on
    // software GL that renderer has nothing to offer.
    if (userValue("GDK_DEBUG") == nullptr && userValue("GDK_DISABLE") == nullptr &&
        userValue("WEBKIT_DISABLE_DMABUF_RENDERER") == nullptr) {
        // GTK 4.16 moved the switch out of the debug flags.
        variables.emplace_back(gtkMinorVersion >= 16 ? "GDK_DISABLE" : "GDK_DEBUG",
                               gtkMinorVersion >= 16 ? "gl" : "gl-disable");
        variables.emplace_back("WEBKIT_DISABLE_DMABUF_RENDERER", "1");
    }
    // Asked for the GPU to hand to its web processes, the engine sets up EGL
    // in this process just to learn the device: on software GL that loads
    // Mesa and LLVM here (17 MiB of the shell's memory) to find no GPU, or one
    // that is not drawn with. Naming a device that does not exist answers the
    // same without EGL. The web processes set up their own EGL as before, so
    // WebGL is unchanged.
    if (userValue("WEBKIT_WEB_RENDER_DEVICE_FILE") == nullptr) {
        variables.emplace_back("WEBKIT_WEB_RENDER_DEVICE_FILE", kNoRenderDevice);
    }
    return variables;
}

void chooseRenderer() {
    software = glIsSoftware(g_getenv("LIBGL_ALWAYS_SOFTWARE"), renderNodeUsable());
    // GTK and the engine read these once, as they start.
    variablesSet = softwareRenderingVariables([](const char* name) { return g_getenv(name); }, software,
                                              gtk_get_minor_version());
    for (const auto& [name, value] : variablesSet) g_setenv(name.c_str(), value.c_str(), TRUE);
}

bool softwareRendering() { return software; }

const Variables& variablesSetForRendering() { return variablesSet; }

}  // namespace corvidale::gtk
