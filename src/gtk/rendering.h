#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

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
// With cairo drawing, GDK need not set GL up at all (40 ms on llvmpipe): the
// variable that says so in this GTK, unless the user set GDK's switches.
std::optional<std::pair<std::string, std::string>> gdkWithoutGL(bool cairoChosen, const char* userDebug,
                                                                const char* userDisable, unsigned gtkMinorVersion);

// Looks at the machine once, before GTK starts, and sets GTK up for it.
void chooseRenderer();
// What chooseRenderer found: the web engine then stays off GL as well.
bool softwareRendering();
// The variables chooseRenderer set, which programs the shell launches must
// not inherit: they are the shell's choice, not the user's.
const std::vector<std::string>& variablesSetForRendering();

}  // namespace corvidale::gtk
