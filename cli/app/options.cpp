#include "app/options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "pelta_version.h"
#include "platform/platform.h"
#include "host/plugin.h"

namespace pelta_cli {

using namespace pelta;

namespace {

struct TrackOption {
    const char* name;
    int index;
    const char* what;
};
constexpr TrackOption kTracks[] = {
    {"left", TRACK_LEFT, "left edge of the processing window, pixels"},
    {"width", TRACK_WIDTH, "width of the processing window, pixels"},
    {"shift", TRACK_SHIFT, "field shift in the window, 1/16 field line"},
    {"th-y", TRACK_TH_Y, "luma comb threshold"},
    {"th-c", TRACK_TH_C, "chroma comb threshold"},
    {"high", TRACK_HIGH, "weight of the high-band comb term"},
    {"mid", TRACK_MID, "weight of the mid-band comb term"},
    {"stripe", TRACK_STRIPE, "comb threshold, 1/512 of the pixels outside the window"},
    {"freq", TRACK_FREQ, "C/Y subcarrier frequency, 704 = NTSC"},
    {"phase", TRACK_PHASE, "C/Y subcarrier phase, degrees"},
};
constexpr TrackOption kChecks[] = {
    {"tff", CHECK_TFF, "TFF: weave even frames' top, odd frames' bottom fields"},
    {"range", CHECK_RANGE, "output the input with its window inverted (not --saving)"},
    {"mono", CHECK_MONO, "clear the colour in the window"},
    {"cy", CHECK_CY, "fold the window's colour into luma on a subcarrier"},
    {"lpf", CHECK_LPF, "vertical low-pass when combing remains"},
};

constexpr int kMaxThreads = 64;

bool parse_int(std::string_view s, long long& out) {
    if (s.empty() || s.size() > 20) return false;
    std::string copy(s);
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(copy.c_str(), &end, 10);
    if (errno || *end != '\0' || copy[0] == ' ') return false;
    out = v;
    return true;
}

bool parse_size(std::string_view s, int& w, int& h) {
    size_t x = s.find('x');
    if (x == std::string_view::npos) return false;
    long long a, b;
    if (!parse_int(s.substr(0, x), a) || !parse_int(s.substr(x + 1), b)) return false;
    if (a < 0 || b < 0 || a > INT_MAX || b > INT_MAX) return false;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

}  // namespace

Chroma output_chroma(Chroma in, OutChroma choice) {
    switch (choice) {
        case OutChroma::Keep: return in;
        case OutChroma::C444: return Chroma::C444;
        case OutChroma::C422: return Chroma::C422;
        case OutChroma::C420: return is_420(in) ? in : Chroma::C420jpeg;
    }
    return in;
}

void output_format(Chroma in, int in_depth, const Options& o, Chroma& chroma, int& depth) {
    chroma = output_chroma(in, o.out_chroma);
    depth = o.out_depth ? o.out_depth : in_depth;
    if (depth > 8 && is_420(chroma)) chroma = Chroma::C420;
    if (depth == 8 && in_depth > 8 && chroma == Chroma::C420) chroma = Chroma::C420jpeg;
}

ParseOutcome parse_options(int argc, const char* const* argv, const FILTER_DLL* desc, Options& o,
                           std::string& error) {
    o = Options{};
    o.controls = default_controls(desc);
    std::string positional[2];
    int positional_arg[2] = {};
    int npos = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (options_done || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            if (npos == 2) {
                error = "too many arguments ('" + std::string(arg) + "'): expected INPUT and OUTPUT";
                return ParseOutcome::Usage;
            }
            positional_arg[npos] = i;
            positional[npos++] = std::string(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") return ParseOutcome::Help;
        if (arg == "--version") return ParseOutcome::Version;
        if (arg.substr(0, 2) != "--") {
            error = "unknown option '" + std::string(arg) + "'";
            return ParseOutcome::Usage;
        }
        std::string_view name = arg.substr(2);
        std::optional<std::string_view> inline_value;
        if (size_t eq = name.find('='); eq != std::string_view::npos) {
            inline_value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const std::string opt = "--" + std::string(name);

        // Flags without a value.
        bool* flag = nullptr;
        if (name == "saving") flag = &o.saving;
        if (name == "strict") flag = &o.strict;
        if (name == "quiet") flag = &o.quiet;
        if (name == "auto") flag = &o.auto_settings;
        if (name == "force") flag = &o.force;
        if (flag) {
            if (inline_value) {
                error = opt + " takes no value";
                return ParseOutcome::Usage;
            }
            *flag = true;
            continue;
        }

        const TrackOption* track = nullptr;
        const TrackOption* check = nullptr;
        for (const TrackOption& t : kTracks)
            if (name == t.name) track = &t;
        for (const TrackOption& c : kChecks)
            if (name == c.name) check = &c;
        const bool known = track || check || name == "raw" || name == "out-chroma" || name == "out-depth" ||
                           name == "max-w" || name == "log" || name == "plugin" || name == "threads" ||
                           name == "frames" || name == "start";
        if (!known) {
            error = "unknown option '" + opt + "'";
            return ParseOutcome::Usage;
        }
        std::string_view value;
        if (inline_value) {
            value = *inline_value;
        } else {
            if (i + 1 >= argc) {
                error = opt + " needs a value";
                return ParseOutcome::Usage;
            }
            value = argv[++i];
        }

        if (track || check) {
            const int idx = track ? track->index : check->index;
            const long long lo = track ? desc->track_s[idx] : 0;
            const long long hi = track ? desc->track_e[idx] : 1;
            long long v;
            if (!parse_int(value, v)) {
                error = opt + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                        ", not '" + std::string(value) + "'";
                return ParseOutcome::Usage;
            }
            if (v < lo || v > hi) {
                error = opt + " " + std::string(value) + " is out of range (" + std::to_string(lo) + " to " +
                        std::to_string(hi) + ")";
                return ParseOutcome::Usage;
            }
            if (track) {
                o.controls.track[idx] = static_cast<int>(v);
                o.track_given[idx] = true;
            } else {
                o.controls.check[idx] = static_cast<int>(v);
                o.check_given[idx] = true;
            }
        } else if (name == "raw") {
            std::string size_error;
            if (!parse_size(value, o.raw_w, o.raw_h)) {
                error = "--raw takes the frame size as WxH, not '" + std::string(value) + "'";
                return ParseOutcome::Usage;
            }
            if (!check_frame_size(o.raw_w, o.raw_h, size_error)) {
                error = "--raw " + std::string(value) + ": " + size_error;
                return ParseOutcome::Usage;
            }
            o.raw = true;
        } else if (name == "out-chroma") {
            if (value == "444")
                o.out_chroma = OutChroma::C444;
            else if (value == "422")
                o.out_chroma = OutChroma::C422;
            else if (value == "420")
                o.out_chroma = OutChroma::C420;
            else {
                error = "--out-chroma takes 444, 422 or 420, not '" + std::string(value) + "'";
                return ParseOutcome::Usage;
            }
        } else if (name == "out-depth") {
            if (value == "8" || value == "10" || value == "12" || value == "16") {
                o.out_depth = value[0] == '8' ? 8 : std::stoi(std::string(value));
            } else {
                error = "--out-depth takes 8, 10, 12 or 16, not '" + std::string(value) + "'";
                return ParseOutcome::Usage;
            }
        } else if (name == "max-w") {
            long long v;
            if (!parse_int(value, v) || v < 1 || v > 2 * kMaxSide) {
                error = "--max-w takes a row stride in pixels from the frame width to " +
                        std::to_string(2 * kMaxSide) + ", not '" + std::string(value) + "'";
                return ParseOutcome::Usage;
            }
            o.max_w = static_cast<int>(v);
        } else if (name == "frames" || name == "start") {
            long long v;
            const long long lo = name == "frames" ? 10 : 0, hi = name == "frames" ? 100000 : INT_MAX / 2;
            if (!parse_int(value, v) || v < lo || v > hi) {
                error = opt + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                        ", not '" + std::string(value) + "'";
                return ParseOutcome::Usage;
            }
            (name == "frames" ? o.auto_frames : o.auto_start) = static_cast<long>(v);
        } else if (name == "threads") {
            long long v;
            if (!parse_int(value, v) || v < 1 || v > kMaxThreads) {
                error = "--threads takes a number from 1 to " + std::to_string(kMaxThreads) + ", not '" +
                        std::string(value) + "'";
                return ParseOutcome::Usage;
            }
            o.threads = static_cast<int>(v);
        } else if (name == "log") {
            if (value.empty()) {
                error = "--log needs a file name";
                return ParseOutcome::Usage;
            }
            o.log = std::string(value);
        } else if (name == "plugin") {
            if (!can_load_plugins()) {
                error = "--plugin needs pelta32, the 32-bit build: a 64-bit program cannot load a 32-bit DLL";
                return ParseOutcome::Usage;
            }
            if (value.empty()) {
                error = "--plugin needs a file name";
                return ParseOutcome::Usage;
            }
            if (!o.plugin.empty()) {
                error = "--plugin can be given only once";
                return ParseOutcome::Usage;
            }
            o.plugin = std::string(value);
        }
    }
    if (npos < 2) {
        error = npos == 0 ? "missing INPUT and OUTPUT (use - for standard input or output)"
                          : "missing OUTPUT (use - for standard output)";
        return ParseOutcome::Usage;
    }
    o.input = positional[0];
    o.input_arg = positional_arg[0];
    o.output = positional[1];
    if ((o.force || o.auto_frames || o.auto_start) && !o.auto_settings) {
        error = std::string(o.force ? "--force" : o.auto_frames ? "--frames" : "--start") + " goes with --auto";
        return ParseOutcome::Usage;
    }
    if (o.saving && !o.log.empty()) {
        error = "--log cannot be used with --saving: the filter reports its decisions only when not saving";
        return ParseOutcome::Usage;
    }
    if (o.raw && o.out_chroma != OutChroma::Keep) {
        error = "--out-chroma cannot be used with --raw: raw frames have no chroma subsampling";
        return ParseOutcome::Usage;
    }
    if (o.raw && o.out_depth) {
        error = "--out-depth cannot be used with --raw: raw frames are the filter's own samples";
        return ParseOutcome::Usage;
    }
    if (o.raw && o.max_w && o.max_w < o.raw_w) {
        error = "--max-w " + std::to_string(o.max_w) + " is below the frame width " + std::to_string(o.raw_w);
        return ParseOutcome::Usage;
    }
    if (!o.log.empty() && o.log == o.output) {
        error = o.log == "-" ? "--log and OUTPUT cannot both be standard output" : "--log and OUTPUT name the same file";
        return ParseOutcome::Usage;
    }
    return ParseOutcome::Run;
}

const char* program_name() { return PELTA_PROGRAM_NAME; }

// A file name as a shell would need it typed.
std::string quote_arg(const std::string& s) {
    bool plain = !s.empty();
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("-_./=+,:@%", c)) plain = false;
    if (plain) return s;
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string version_text() { return "pelta " PELTA_VERSION "\n"; }

int default_threads() { return platform::usable_cpus() >= 2 ? 2 : 1; }

std::string help_text(const FILTER_DLL* desc) {
    std::string s;
    auto line = [&s](const std::string& t) { s += t + "\n"; };
    auto pad = [](std::string t, size_t n) {
        if (t.size() < n) t.append(n - t.size(), ' ');
        return t;
    };
    const std::string self = program_name();
    line("Usage: " + self + " [OPTIONS] INPUT OUTPUT");
    line("       " + self + " analyze [OPTIONS] INPUT   (which settings suit the clip; see " + self + " analyze --help)");
    line("");
    line("Runs the pelta field-matching filter over a video, standing in for the editor.");
    line("INPUT and OUTPUT are file names, or - for standard input or output.");
    line("Input: YUV4MPEG2 (Y4M), chroma 444, 422, 420jpeg, 420mpeg2, 420paldv, 420 or mono at 8 bits,");
    line("or 444pN, 422pN, 420pN or monoN at N = 9, 10, 12, 14 or 16 bits.");
    line("Output: Y4M with the input's header, chroma format and depth, unless --out-chroma or");
    line("--out-depth says otherwise.");
    line("");
    line("Filter track bars (range, default):");
    for (const TrackOption& t : kTracks) {
        const int i = t.index;
        line("  " + pad(std::string("--") + t.name + " N", 14) + pad(t.what, 58) + std::to_string(desc->track_s[i]) +
             ".." + std::to_string(desc->track_e[i]) + ", default " + std::to_string(desc->track_default[i]));
    }
    line("");
    line("Filter check boxes (0 or 1, default):");
    for (const TrackOption& c : kChecks) {
        const std::string def = "default " + std::to_string(desc->check_default[c.index]);
        line("  " + pad(std::string("--") + c.name + " 0|1", 14) + pad(c.what, 58) + def);
    }
    line("");
    line("Formats:");
    line("  --raw WxH        read and write raw frames of W x H pixels, three little-endian");
    line("                   int16 per pixel (y, cb, cr), no conversion at all");
    line("  --out-chroma S   output chroma subsampling: 444, 422 or 420 (default: as the input)");
    line("  --out-depth N    output bits per sample: 8, 10, 12 or 16 (default: as the input)");
    line("");
    line("Host:");
    line("  --max-w N        row stride in pixels, the frame width up to " + std::to_string(2 * kMaxSide) +
         " (default: the width");
    line("                   rounded up to a multiple of 32); the output does not depend on it");
    line("  --saving         answer is_saving with 1, as while the editor writes a file: no title");
    line("                   and no range display (default: 0, as in the editor's preview)");
    line("  --log FILE       write the filter's per-frame decisions as CSV:");
    line("                   frame,match,comb,comb_th,status (not with --saving)");
    line("  --threads N      1: read, filter and write on one thread; 2 or more: reading and");
    line("                   converting the input, the filter, and converting and writing the");
    line("                   output overlap on three threads (the filter itself always runs on");
    line("                   one, frame by frame); the output is the same (default: 2 with two");
    line("                   or more CPUs, else 1)");
    line("  --auto           analyse the clip's first 300 frames as pelta analyze does and filter");
    line("                   with the settings it suggests (--left, --width, --shift, --tff); options");
    line("                   given explicitly win; refuses clips that are not pelta's kind");
    line("  --force          with --auto: filter such a clip all the same");
    line("  --frames N, --start F  with --auto: the sample to analyse (default 300 frames from 0)");
    line("  --strict         exit with status 1 if any frame failed (after writing everything)");
    line("  --quiet          no progress line and no summary on standard error");
    if (can_load_plugins()) {
        line("  --plugin FILE    run the filter from an AviUtl filter plug-in DLL (pelta.auf) instead of");
        line("                   the built-in one; the controls above are then the plug-in's own");
    }
    line("  -h, --help       show this help");
    line("  --version        show the version");
    line("");
    line("--tff is not the source's field order: with 1 the weaves pair a top field of an even");
    line("frame with a bottom field of an odd frame, with 0 the reverse (see docs/field-order.md).");
    line("--range is what the output shows unless --saving, as in the editor's preview.");
    line("");
    line("Exit status: 0 done, 1 error (or a failed frame or an incomplete last frame with");
    line("--strict), 2 usage error.");
    return s;
}

}  // namespace pelta_cli
