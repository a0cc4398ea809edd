#include "frame_storage.h"

namespace corvidale {

const platform::UserScript& frameStorageScript() {
    // The frame's own script could replace what this looks at later, not
    // before it: it runs first. Without the list of ancestors the frame
    // counts as another site's. A worker would reach IndexedDB and Cache
    // Storage where this script never runs, so such a frame starts none.
    static const platform::UserScript script{
        "(function () {\n"
        "  if (window === window.top) return;\n"
        "  var ancestors = location.ancestorOrigins;\n"
        "  if (ancestors && ancestors.length && ancestors[ancestors.length - 1] === self.origin) return;\n"
        "  function refusal(what, name) {\n"
        "    return new DOMException(what + ' is refused to a frame of another site', name);\n"
        "  }\n"
        "  function refuse(owner, key, what, promised, name) {\n"
        "    if (!owner || !(key in owner)) return;\n"
        "    Object.defineProperty(owner, key, { configurable: false, writable: false, value: function () {\n"
        "      if (promised) return Promise.reject(refusal(what, name));\n"
        "      throw refusal(what, name);\n"
        "    } });\n"
        "  }\n"
        "  function proto(type) { return type && type.prototype; }\n"
        "  var full = 'QuotaExceededError';\n"
        "  refuse(proto(window.IDBFactory), 'open', 'IndexedDB', false, full);\n"
        "  refuse(proto(window.IDBFactory), 'databases', 'IndexedDB', true, full);\n"
        "  refuse(proto(window.CacheStorage), 'open', 'Cache Storage', true, full);\n"
        "  refuse(proto(window.CacheStorage), 'match', 'Cache Storage', true, full);\n"
        "  refuse(proto(window.StorageManager), 'getDirectory', 'The file system', true, full);\n"
        "  refuse(window, 'Worker', 'A worker', false, 'SecurityError');\n"
        "  refuse(window, 'SharedWorker', 'A worker', false, 'SecurityError');\n"
        "  refuse(proto(window.ServiceWorkerContainer), 'register', 'A service worker', true, 'SecurityError');\n"
        "})();",
        /*injectAtDocumentEnd=*/false,
        /*forMainFrameOnly=*/false,
        /*pageWorld=*/true,
    };
    return script;
}

}  // namespace corvidale
