// pelta: runs the pelta filter over a Y4M or raw video, standing in for the
// editor that normally hosts it, or analyses a clip (`pelta analyze`).
#include <cstdio>
#include <new>
#include <string>

#include "app/analyze_cmd.h"
#include "app/filter_cmd.h"
#include "host/plugin.h"
#include "io/output_file.h"
#include "platform/platform.h"

using namespace pelta_cli;

static int run(int argc, char** argv) {
    // Loading the filter: the editor asks for the descriptor once. pelta32
    // takes it from the plug-in named by --plugin instead, when given.
    std::string error;
    const FILTER_DLL* desc = load_filter(argc, argv, error);
    if (!desc) {
        std::fprintf(stderr, "pelta: %s\n", error.c_str());
        return 1;
    }
    if (argc >= 2 && is_analyze_command(argv[1])) {
        // The page is written under a temporary name too, and the scratch
        // copy grows: an interruption or the file size limit must not leave
        // the one behind or end the process without a word.
        install_signal_cleanup();
        return run_analyze(argc - 1, argv + 1, desc);
    }
    return run_filter(argc, argv, desc);
}

int main(int argc, char** argv) {
    platform::init_process();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Unwinding has removed any temporary output by now.
        std::fputs("pelta: not enough memory for frames of this size\n", stderr);
        return 1;
    }
}
