#pragma once

#include <string>
#include <vector>

namespace corvidale::tools {

// corvidale-release delta --from <old image> --to <new image> -o <file>
int runDelta(std::vector<std::string> args);

}  // namespace corvidale::tools
