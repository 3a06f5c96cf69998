#include "host/plugin.h"

#include <cstring>

#include "abi/controls.h"
#include "plugin/descriptor.h"

#ifdef PELTA_PLUGIN_LOADER
#include "io/output_file.h"
#include "pe/pe_loader.h"
#endif

namespace pelta_cli {

using namespace pelta;

std::string plugin_argument(int argc, const char* const* argv) {
    static const char kOption[] = "--plugin";
    const size_t n = sizeof kOption - 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) break;
        if (std::strcmp(arg, kOption) == 0) return i + 1 < argc ? argv[i + 1] : "";
        if (std::strncmp(arg, kOption, n) == 0 && arg[n] == '=') return arg + n + 1;
    }
    return "";
}

#ifndef PELTA_PLUGIN_LOADER

bool can_load_plugins() { return false; }

const FILTER_DLL* load_filter(int, const char* const*, std::string&) { return GetFilterTable(); }

#else

namespace {

PluginImage plugin;

// What the host relies on in a descriptor, checked before any of it is used:
// pelta's controls, and every pointer inside the plug-in's own image.
std::string descriptor_problem(const FILTER_DLL* d) {
    if (!plugin.in_image(d, sizeof(FILTER_DLL))) return "GetFilterTable returned no descriptor inside the plug-in";
    if (d->track_n != TRACK_COUNT || d->check_n != CHECK_COUNT)
        return "describes " + std::to_string(d->track_n) + " track bars and " + std::to_string(d->check_n) +
               " check boxes; this host drives pelta's " + std::to_string(TRACK_COUNT) + " and " +
               std::to_string(CHECK_COUNT);
    const size_t tracks = sizeof(int) * TRACK_COUNT, checks = sizeof(int) * CHECK_COUNT;
    if (!plugin.in_image(d->track_default, tracks) || !plugin.in_image(d->track_s, tracks) ||
        !plugin.in_image(d->track_e, tracks) || !plugin.in_image(d->check_default, checks))
        return "has control tables outside its image";
    if (!plugin.in_image(d->name) ||
        !std::memchr(d->name, 0, static_cast<size_t>(plugin.base() + plugin.size() - 
                                                      reinterpret_cast<const uint8_t*>(d->name))))
        return "has no filter name inside its image";
    if (!plugin.in_code(reinterpret_cast<const void*>(d->func_proc))) return "has no frame procedure in its code";
    for (const void* fn : {reinterpret_cast<const void*>(d->func_update), reinterpret_cast<const void*>(d->func_exit)})
        if (fn && !plugin.in_code(fn)) return "has a handler outside its code";
    return "";
}

}  // namespace

bool can_load_plugins() { return true; }

const FILTER_DLL* load_filter(int argc, const char* const* argv, std::string& error) {
    const std::string path = plugin_argument(argc, argv);
    if (path.empty()) return GetFilterTable();

    const std::string named = "plug-in '" + path + "' ";
    std::string problem;
    if (!plugin.load(path, "GetFilterTable", problem)) {
        error = named + problem;
        return nullptr;
    }
    // From here on the plug-in's own code runs: a fault in it is reported in
    // one line and leaves no output behind.
    install_fault_report(plugin, "pelta", remove_uncommitted_outputs, 1);
    if (!plugin.attach(problem)) {
        error = named + problem;
        return nullptr;
    }
    note_plugin_activity("GetFilterTable");
    const FILTER_DLL* desc = reinterpret_cast<FILTER_DLL* (*)()>(plugin.export_address())();
    note_plugin_activity("the run");
    problem = descriptor_problem(desc);
    if (!problem.empty()) {
        error = named + problem;
        return nullptr;
    }
    return desc;
}

#endif

}  // namespace pelta_cli
