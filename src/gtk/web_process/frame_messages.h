#pragma once

// What the shell's web process extension tells its web view of the page's
// frames, as user messages. Both sides include this; nothing else is shared.

namespace corvidale::frames {

// What names a frame: its id, whether it is the top frame, and its
// document's origin as `self.origin` serializes it ("null" for an opaque one).
inline constexpr const char* kFrameFactsType = "(tbs)";
// The same, and the name of the function called.
inline constexpr const char* kCallType = "(tbss)";

// The user pressed a pointer button or a key in the frame: kFrameFactsType.
inline constexpr const char* kPressMessage = "corvidale.frame-press";
// A script of the frame called a function that may ask the engine for a
// dialog, a window, a print or a navigation (kCallType)...
inline constexpr const char* kEnterMessage = "corvidale.frame-enter";
// ...and the call returned (no parameters): whatever the engine asked for in
// between, that frame asked for. Only a print may come later: the engine
// holds it back until the frame's document has loaded.
inline constexpr const char* kLeaveMessage = "corvidale.frame-leave";

// The extension's own script world, where its listeners live apart from the
// page's scripts.
inline constexpr const char* kScriptWorld = "corvidale-frames";

}  // namespace corvidale::frames
