#pragma once

#include <glib-object.h>

#include <memory>

namespace corvidale::gtk {

// A member that owns one GLib object or structure and frees it with `Free`
// when it goes: what g_autoptr is to a local.
template <class T, auto Free>
struct GLibFree {
    void operator()(T* object) const { Free(object); }
};
template <class T, auto Free = g_object_unref>
using GLibPtr = std::unique_ptr<T, GLibFree<T, Free>>;

}  // namespace corvidale::gtk
