#pragma once

#include "core/platform/web_view.h"

namespace corvidale {

// Storage for frames of other sites. The engine keeps what such a frame
// stores apart from the site's own and let one keep 1,000 MB of IndexedDB,
// held in the network process's memory, with no quota error. So a document whose origin is not its top document's gets no
// IndexedDB and no Cache Storage: opening either fails with
// QuotaExceededError, as a full quota does; its origin's file system and
// its workers are refused too. Its local and session storage stay, within
// the engine's 5 MB each. Run in the page's own world in every frame, before
// the frame's scripts.
const platform::UserScript& frameStorageScript();

}  // namespace corvidale
