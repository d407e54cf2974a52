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
    // The translations of the framework's messages, the processor count for threads.
    for (const char* path : {"/usr/share/locale", "/sys/devices/system/cpu", "/dev/urandom"})
        readable.emplace_back(path);

    // The pictures go to the program through its own buffer: no display, no fonts. The sound
    // of a movie that is shown goes to the sound card directly (ALSA); a sound server is out
    // of reach, as every socket is, so where the card is a sound server's the movie plays
    // without sound.
    if (showsWindows) {
        for (const char* path : {"/usr/share/alsa", "/etc/alsa", "/etc/asound.conf"})
            readable.emplace_back(path);
        if (const std::string home = fromEnvironment("HOME"); !home.empty())
            readable.push_back(home + "/.asoundrc");
        allowance.devices.emplace_back("/dev/snd");
    }
    allowance.noAbstractSockets = true;
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
    confinement.socketPairsOnly = allowOnlySocketPairs();
    return confinement;
}

} // namespace tagrelay
