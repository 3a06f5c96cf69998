// `pelta analyze` and the settings step of `pelta --auto`.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "app/options.h"
#include "io/y4m.h"

namespace pelta_cli {

// `pelta analyze [OPTIONS] INPUT`: argv[0] is "analyze". Answers the exit
// status.
int run_analyze(int argc, const char* const* argv, const FILTER_DLL* desc);

// --auto from a pipe reads as many frames (after --start) before it filters
// as the analysis reads a file whole, and analyses those: a pipe is read
// once. This many of 720x480, fewer of larger frames (whole_up_to).
inline constexpr long kAutoPipeFrames = 3600;

// --auto's line for each segment of opt.plan, in order: its frames, kind and
// confidence, and what the run does with it (filtering with which settings,
// or passed through, and why).
std::vector<std::string> auto_segment_lines(const Options& opt);

// --auto: analyses the start of opt.input and sets the controls that were not
// given explicitly to what the analysis suggests, telling on standard error
// what it chose. Answers -1 to go on filtering, or an exit status to end with.
// `in` is the input as the filter run opened it. Where it cannot seek (a
// pipe, standard input or named), `replay` is set to a source that gives the
// bytes the analysis read and then the rest of `in`. `from_stdin` is the
// command line to suggest behind ffmpeg when the input is not Y4M.
int apply_auto_settings(Options& opt, const FILTER_DLL* desc, std::FILE* in, const std::string& from_stdin,
                        std::unique_ptr<ByteSource>& replay);

}  // namespace pelta_cli
