// `pelta [OPTIONS] INPUT OUTPUT`: the filter run over a whole clip.
#pragma once

#include "abi/host_records.h"

namespace pelta_cli {

// Runs the filter command (argv as main() has it, the filter loaded).
// Answers the exit status.
int run_filter(int argc, char** argv, const FILTER_DLL* desc);

}  // namespace pelta_cli
