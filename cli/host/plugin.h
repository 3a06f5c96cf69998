// Where the command-line host's filter comes from: the filter sources built
// into the program, or, in pelta32 (the 32-bit build) with --plugin FILE, the
// GetFilterTable of a filter plug-in DLL loaded from FILE (pe_loader.h). The
// host drives either descriptor the same way.
#pragma once

#include <string>

#include "abi/host_records.h"

namespace pelta_cli {


// Whether this build can load plug-in DLLs (pelta32).
bool can_load_plugins();

// The value of the first --plugin option in argv ("--plugin FILE" or
// "--plugin=FILE", before any "--"), or "" when there is none. It is looked
// for before the other options are parsed, since their ranges and defaults
// come from the filter's descriptor.
std::string plugin_argument(int argc, const char* const* argv);

// Loads the filter: the plug-in named by --plugin where this build can load
// one and argv names it, else the built-in filter. Answers its descriptor, or
// nullptr with a one-line `error` naming the problem when the plug-in cannot
// be loaded or does not describe the filter this host drives. The plug-in
// stays loaded until the process ends.
const FILTER_DLL* load_filter(int argc, const char* const* argv, std::string& error);

}  // namespace pelta_cli
