// Owning holders for the C resources of GLib, GObject and GTK, so that each is released on every
// path the moment its holder goes. Any thread that owns the resource.
#pragma once

#include <memory>
#include <string>

#include <glib-object.h>
#include <glib.h>

namespace desktop::x11 {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GErrorFree {
    void operator()(GError* error) const {
        if (error) g_error_free(error);
    }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// A GError's message, or the fallback when there is none.
inline std::string describe(const GError* error, const char* fallback = "unknown error") {
    return error && error->message ? error->message : fallback;
}

}  // namespace desktop::x11
