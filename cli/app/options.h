// The command line of `pelta`.
#pragma once

#include <optional>
#include <string>

#include "app/option_table.h"
#include "convert/convert.h"
#include "host/host.h"
#include "host/plan.h"

namespace pelta_cli {

// The three subsamplings --out-chroma accepts.
enum class OutChroma { Keep, C444, C422, C420 };

struct Options {
    std::string input, output;
    int input_arg = 0;  // where INPUT stands in argv
    Controls controls{};
    bool track_given[pelta::TRACK_COUNT] = {};
    bool check_given[pelta::CHECK_COUNT] = {};
    bool raw = false;
    int raw_w = 0, raw_h = 0;
    OutChroma out_chroma = OutChroma::Keep;
    int out_depth = 0;  // 0: as the input
    int max_w = 0;  // 0: the width rounded up to a multiple of 32
    bool saving = false;
    bool strict = false;
    bool quiet = false;
    bool auto_settings = false;  // --auto: settings from the analysis of the clip's start
    bool force = false;          // --force: filter with --auto even a clip that is not pelta's kind
    long auto_frames = 0;        // --frames: frames --auto analyses (0: its default)
    long auto_start = 0;         // --start: the first of them
    int threads = 0;  // 0: default_threads()
    std::string plan_file;  // --plan FILE ("-": standard input)
    // The filter run goes by `plan` (read from --plan, or made by --auto's
    // analysis): the segments of pelta's kinds are filtered, each with its
    // own settings where the command line gives none, and every other frame
    // passes through as it came. Without, every frame is filtered with
    // `controls`.
    bool by_plan = false;
    Plan plan;
    bool plan_filters_every_segment = false;  // --auto --force on a clip with no segment of pelta's kinds
    std::string log;
    std::string plugin;  // pelta32: the filter plug-in DLL to run instead of the built-in filter
};

// The default of --threads: 2 when this process may run on two or more CPUs,
// else 1.
int default_threads();

enum class ParseOutcome { Run, Help, Version, Usage };

// Parses argv by the option table. Controls start at the descriptor's
// defaults; values are checked against the descriptor's ranges (check boxes:
// 0 or 1). On Usage, `error` holds a one-line reason.
ParseOutcome parse_options(int argc, const char* const* argv, const FILTER_DLL* desc, Options& out,
                           std::string& error);

// The name this binary is built under: "pelta", or "pelta32" for the 32-bit
// host.
const char* program_name();

// An argument as a shell would need it typed.
std::string quote_arg(const std::string& s);

// True for the subcommand's name, in either spelling: "analyze", "analyse".
bool is_analyze_command(const char* arg);

// Writes help or version text, or the analysis's verdict, to standard
// output. Answers the exit status: 0, or 1 with a line on standard error
// ("WHO: cannot write standard output: ...") when the text could not all be
// written (a full disk, /dev/full, a closed descriptor). When the reader of
// a pipe went away it ends the process quietly, as the filter does
// (end_for_closed_pipe).
int print_to_stdout(const std::string& text, const char* who);

// The host's row stride for frames of w x h: --max-w, or by default the
// width rounded up to a multiple of 32. 0, with a usage error in `error`,
// when --max-w is below the width or would make frame buffers of more than
// kMaxPixels pixels (the cap on every way of setting a size).
int row_stride(const Options& o, int w, int h, std::string& error);

// A refused Y4M header's message (`error`, its `fault`), with what to do
// where that is clear: ffmpeg's -strict -1 for an empty pipe, a decoding
// command for input that is not Y4M. `input` is INPUT as given ("-":
// standard input); `from_pipe` whether it is a pipe; `from_stdin` the
// command line to suggest behind ffmpeg.
std::string header_advice(Y4mReader::HeaderFault fault, const std::string& error, const std::string& input,
                          bool from_pipe, const std::string& from_stdin);

// The --raw row, one for both commands: raw frames of W x H pixels, any
// size a frame may have (check_frame_size), stored into raw, w and h.
OptionRow raw_option(bool& raw, int& w, int& h, const HelpGroup* group, std::string help);

// The --help text, made from the same table, with every control's range and
// default read from `desc`.
std::string help_text(const FILTER_DLL* desc);

// The --version line: "pelta 1.2.0" and a newline.
std::string version_text();

// The output chroma format for an input format and the --out-chroma choice.
Chroma output_chroma(Chroma in, OutChroma choice);

// The output's chroma format and depth for an input's and the --out-chroma
// and --out-depth choices. Above 8 bits 4:2:0 is centred (one tag for all
// sitings); centred 4:2:0 from such an input becomes C420jpeg at 8 bits.
void output_format(Chroma in, int in_depth, const Options& o, Chroma& chroma, int& depth);

}  // namespace pelta_cli
