#include "confinement.h"

#include <gst/gst.h>

#include <cstdlib>
#include <set>
#include <string>

namespace tagrelay {

namespace {

std::string fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

/// The folders the registry loads plugins from.
std::set<std::string> pluginFolders()
{
    std::set<std::string> folders;
    GList* plugins = gst_registry_get_plugin_list(gst_registry_get());
    for (GList* item = plugins; item != nullptr; item = item->next) {
        const gchar* file = gst_plugin_get_filename(GST_PLUGIN(item->data));
        if (file == nullptr)
            continue;
        gchar* folder = g_path_get_dirname(file);
        folders.insert(folder);
        g_free(folder);
    }
    gst_plugin_list_free(plugins);
    return folders;
}

FileSystemAllowance allowanceFor(bool showsWindows)
{
    FileSystemAllowance allowance;
    auto& readable = allowance.readable;
    // Libraries, as the dynamic linker finds them, and the plugins.
    readable = {"/usr/lib", "/lib", "/usr/lib64", "/lib64", "/usr/local/lib", "/etc/ld.so.cache"};
    for (const std::string& folder : pluginFolders())
        readable.push_back(folder);
    // The registry (read again when a plugin is loaded for the first time).
    readable.push_back(std::string(g_get_user_cache_dir()) + "/gstreamer-1.0");
    if (const std::string registry = fromEnvironment("GST_REGISTRY"); !registry.empty())
        readable.push_back(registry);
    // Fonts, the translations of the framework's messages, the processor count for threads.
    for (const char* path : {"/usr/share/fonts", "/usr/local/share/fonts", "/etc/fonts",
                             "/usr/share/locale", "/sys/devices/system/cpu", "/dev/urandom"})
        readable.emplace_back(path);

    const std::string home = fromEnvironment("HOME");
    if (showsWindows) {
        // The display: its cookie and Xlib's own files.
        const std::string cookie = fromEnvironment("XAUTHORITY");
        readable.push_back(!cookie.empty() ? cookie : home + "/.Xauthority");
        readable.emplace_back("/usr/share/X11");
        // The sound card, directly (ALSA) or through a sound server.
        for (const char* path : {"/usr/share/alsa", "/etc/alsa", "/etc/asound.conf", "/etc/pulse",
                                 "/usr/share/pipewire", "/etc/pipewire", "/etc/machine-id",
                                 "/var/lib/dbus/machine-id"})
            readable.emplace_back(path);
        if (!home.empty()) {
            readable.push_back(home + "/.asoundrc");
            readable.push_back(home + "/.config/pulse");
        }
        if (const std::string runtime = fromEnvironment("XDG_RUNTIME_DIR"); !runtime.empty())
            readable.push_back(runtime + "/pulse");
        allowance.devices.emplace_back("/dev/snd");
    } else {
        allowance.noAbstractSockets = true;
    }
    return allowance;
}

} // namespace

Confinement confineWorker(bool showsWindows)
{
    Confinement confinement;
    confinement.noNewPrivileges = forbidNewPrivileges();
    if (!confinement.noNewPrivileges)
        return confinement; // neither layer below may be set up without it
    confinement.fileSystemAbi = confineFileSystem(allowanceFor(showsWindows));
    confinement.localSocketsOnly = allowOnlyLocalSockets();
    return confinement;
}

} // namespace tagrelay
