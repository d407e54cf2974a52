#pragma once

#include <gst/gst.h>

#include <memory>

namespace tagrelay {

// Owning handles for the media framework's objects: every reference the worker takes is
// released by one of these, never by hand.

struct GstObjectUnref
{
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GstMessageUnref
{
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct GstCapsUnref
{
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct GErrorFree
{
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFree
{
    void operator()(gpointer memory) const { g_free(memory); }
};

using ElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using CapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using TextPtr = std::unique_ptr<gchar, GFree>;

/// A new element of the factory, owned outright (its floating reference sunk); null when the
/// factory is not installed.
inline ElementPtr makeElement(const char* factory)
{
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr)
        return nullptr;
    return ElementPtr(GST_ELEMENT(gst_object_ref_sink(element)));
}

} // namespace tagrelay
