#include "rendering.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

namespace corvidale::gtk {
namespace {

bool software = false;
bool chosenByShell = false;

// A render node that opens is a GPU that Mesa can use; without one, Mesa
// falls back to llvmpipe.
bool renderNodeUsable() {
    GDir* folder = g_dir_open("/dev/dri", 0, nullptr);
    if (folder == nullptr) return false;
    bool usable = false;
    while (const char* name = g_dir_read_name(folder)) {
        if (!g_str_has_prefix(name, "renderD")) continue;
        gchar* path = g_build_filename("/dev/dri", name, nullptr);
        const int fd = ::open(path, O_RDWR | O_CLOEXEC);
        g_free(path);
        if (fd >= 0) {
            ::close(fd);
            usable = true;
            break;
        }
    }
    g_dir_close(folder);
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

std::optional<std::string> gskRendererFor(const char* userRenderer, bool softwareGL) {
    if (userRenderer != nullptr || !softwareGL) return std::nullopt;
    return "cairo";
}

void chooseRenderer() {
    software = glIsSoftware(g_getenv("LIBGL_ALWAYS_SOFTWARE"), renderNodeUsable());
    // GTK reads the variable once, when it makes its first renderer.
    if (const auto renderer = gskRendererFor(g_getenv("GSK_RENDERER"), software)) {
        g_setenv("GSK_RENDERER", renderer->c_str(), TRUE);
        chosenByShell = true;
    }
}

bool softwareRendering() { return software; }

bool rendererChosenByShell() { return chosenByShell; }

}  // namespace corvidale::gtk
