#pragma once

#include "core/platform/menu.h"

namespace corvidale {

// The shell's menu bar: application, Edit, View and Window menus.
platform::MenuBar buildMainMenu();

}  // namespace corvidale
