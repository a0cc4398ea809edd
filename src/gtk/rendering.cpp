#include "rendering.h"

#include <fcntl.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <unistd.h>

namespace corvidale::gtk {
namespace {

bool software = false;
std::vector<std::string> variablesSet;

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

void set(const std::string& variable, const std::string& value) {
    g_setenv(variable.c_str(), value.c_str(), TRUE);
    variablesSet.push_back(variable);
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

std::optional<std::pair<std::string, std::string>> gdkWithoutGL(bool cairoChosen, const char* userDebug,
                                                                const char* userDisable, unsigned gtkMinorVersion) {
    if (!cairoChosen || userDebug != nullptr || userDisable != nullptr) return std::nullopt;
    // GTK 4.16 moved the switch from the debug flags to a variable of its own.
    if (gtkMinorVersion >= 16) return std::make_pair(std::string("GDK_DISABLE"), std::string("gl"));
    return std::make_pair(std::string("GDK_DEBUG"), std::string("gl-disable"));
}

void chooseRenderer() {
    software = glIsSoftware(g_getenv("LIBGL_ALWAYS_SOFTWARE"), renderNodeUsable());
    // GTK reads these once, when it opens the display and makes its first
    // renderer.
    const auto renderer = gskRendererFor(g_getenv("GSK_RENDERER"), software);
    if (renderer) set("GSK_RENDERER", *renderer);
    if (const auto withoutGL = gdkWithoutGL(renderer.has_value(), g_getenv("GDK_DEBUG"), g_getenv("GDK_DISABLE"),
                                            gtk_get_minor_version())) {
        set(withoutGL->first, withoutGL->second);
    }
}

bool softwareRendering() { return software; }

const std::vector<std::string>& variablesSetForRendering() { return variablesSet; }

}  // namespace corvidale::gtk
