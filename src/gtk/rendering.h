#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace corvidale::gtk {

// GL drawn by the CPU (Mesa's llvmpipe: machines without a GPU, most virtual
// machines) costs GTK's GL renderer and the web engine's compositing about
// 400 ms of startup and 170 MiB before the page shows anything; both draw
// faster in plain software there. A real GPU keeps GL.

// Mesa's reading of LIBGL_ALWAYS_SOFTWARE, and whether a GPU answers.
bool glIsSoftware(const char* alwaysSoftware, bool renderNodeUsable);

using Variables = std::vector<std::pair<std::string, std::string>>;
// The variables that make GTK and the web engine draw in software, given the
// ones the user set (userValue answers like getenv). A GSK_RENDERER of the
// user's, even an empty one, means the user chose: nothing is set then.
Variables softwareRenderingVariables(const std::function<const char*(const char*)>& userValue, bool softwareGL,
                                     unsigned gtkMinorVersion);

// Looks at the machine once, before GTK starts, and sets GTK up for it.
void chooseRenderer();
// What chooseRenderer found: the web view then stays off GL as well.
bool softwareRendering();
// The variables chooseRenderer set: the shell's choice, not the user's, so
// programs the shell launches do not inherit them.
const Variables& variablesSetForRendering();

}  // namespace corvidale::gtk
