#pragma once

#include <optional>
#include <string>

namespace corvidale::gtk {

// GL drawn by the CPU (Mesa's llvmpipe: machines without a GPU, most virtual
// machines) costs GTK's GL renderer and the web engine's compositing about
// 400 ms of startup and 100 MiB before the page shows anything; both draw
// faster in plain software there. A real GPU keeps GL.

// Mesa's reading of LIBGL_ALWAYS_SOFTWARE, and whether a GPU answers.
bool glIsSoftware(const char* alwaysSoftware, bool renderNodeUsable);
// The renderer GTK is to use: cairo on software GL, unless the user named
// one (even an empty name is theirs); nothing means GTK's own choice.
std::optional<std::string> gskRendererFor(const char* userRenderer, bool softwareGL);

// Looks at the machine once, before GTK starts, and picks GTK's renderer.
void chooseRenderer();
// What chooseRenderer found: the web engine then stays off GL as well.
bool softwareRendering();
// GSK_RENDERER is the shell's choice, not the user's: programs the shell
// launches do not inherit it.
bool rendererChosenByShell();

}  // namespace corvidale::gtk
