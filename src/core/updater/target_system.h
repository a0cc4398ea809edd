#pragma once

namespace corvidale::updater {

// Which system's releases and relaunch this build uses. Decided here, once, at
// compile time: a Linux build must never fetch or start a macOS image.
enum class TargetSystem { Mac, Linux };

#if defined(__APPLE__)
inline constexpr TargetSystem kThisSystem = TargetSystem::Mac;
#else
inline constexpr TargetSystem kThisSystem = TargetSystem::Linux;
#endif

}  // namespace corvidale::updater
