#include "element_guard.h"

#include "movie/movie_elements.h"

namespace tagrelay {

namespace {

// decodebin's answers to autoplug-select (GstAutoplugSelectResult, not in the public headers).
constexpr gint autoplugTry = 0;
constexpr gint autoplugSkip = 2;

bool isAllowedFactory(GstElementFactory* factory)
{
    const gchar* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return isAllowedMovieElement(GST_OBJECT_NAME(factory), klass ? klass : "");
}

gint onAutoplugSelect(GstElement* /*decoder*/, GstPad* /*pad*/, GstCaps* /*caps*/,
                      GstElementFactory* factory, gpointer /*unused*/)
{
    return isAllowedFactory(factory) ? autoplugTry : autoplugSkip;
}

void onElementAdded(GstBin* /*player*/, GstBin* /*bin*/, GstElement* element, gpointer /*unused*/)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory != nullptr && g_str_equal(GST_OBJECT_NAME(factory), "decodebin"))
        g_signal_connect(element, "autoplug-select", G_CALLBACK(onAutoplugSelect), nullptr);
}

} // namespace

void keepOnlyMovieElements()
{
    GstRegistry* registry = gst_registry_get();
    GList* factories = gst_registry_get_feature_list(registry, GST_TYPE_ELEMENT_FACTORY);
    for (GList* item = factories; item != nullptr; item = item->next) {
        auto* factory = GST_ELEMENT_FACTORY(item->data);
        if (!isAllowedFactory(factory))
            gst_registry_remove_feature(registry, GST_PLUGIN_FEATURE(factory));
    }
    gst_plugin_feature_list_free(factories);
    // Nothing here looks for devices.
    GList* providers = gst_registry_get_feature_list(registry, GST_TYPE_DEVICE_PROVIDER_FACTORY);
    for (GList* item = providers; item != nullptr; item = item->next)
        gst_registry_remove_feature(registry, GST_PLUGIN_FEATURE(item->data));
    gst_plugin_feature_list_free(providers);
}

void guardAutoplugging(GstElement* player)
{
    g_signal_connect(player, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
}

} // namespace tagrelay
