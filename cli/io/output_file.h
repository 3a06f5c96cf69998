// Output files that only appear under their name once complete, and the
// checks that keep an output from destroying the input or another output.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pelta_cli {

// An output stream: a file written under a temporary name beside its target
// and renamed into place by publish(), or standard output, or an existing
// special file (a device or a pipe), which is written directly.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards an uncommitted file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // `path` "-" is standard output. An existing file is replaced with the
    // same permissions; a symbolic link is written through, to its target.
    bool open(const std::string& path, std::string& error);
    bool write(const void* data, size_t n, std::string& error);
    // Flushes and closes the file, reporting any write error.
    bool finish(std::string& error);
    // Moves a finished file into place under its name.
    bool publish(std::string& error);
    // Removes the temporary file, if any.
    void discard();
    const std::string& path() const { return path_; }
    // A write failed because the reading end of a pipe was closed.
    bool reader_gone() const { return reader_gone_; }

private:
    bool write_error(std::string& error);

    std::string path_, target_, temp_;
    std::FILE* file_ = nullptr;
    bool is_stdout_ = false;
    bool failed_ = false;
    bool reader_gone_ = false;
    int temp_slot_ = -1;
};

// Makes an interruption (Ctrl+C, SIGINT, SIGTERM, SIGHUP) remove every
// uncommitted temporary file before the process ends, and a write to a closed
// pipe or beyond the file size limit fail instead of ending the process.
void install_signal_cleanup();

// For a reader of the output that went away: removes every uncommitted
// temporary file and ends the process quietly, as a filter that never
// ignored SIGPIPE would have ended.
[[noreturn]] void end_for_closed_pipe();

// An output of a run as the same-file check sees it.
struct RunOutput {
    std::string path;   // "-": standard output; "": not written in this run
    std::string label;  // how a message names it beside another output: "--log 'l.csv'"
};

// An output named on the command line by `option` ("OUTPUT", "--log",
// "--report"): its label is the option with the name as typed, "-" as
// "- (standard output)".
RunOutput option_output(const std::string& option, const std::string& path);

// The one check that keeps every output of pelta, pelta analyze and --auto
// (video, log, page, the verdict on standard output) from destroying the
// input or another output, made before any work. False, with a one-line
// `error`, when an output is the input file (`input`: what the input was
// found to be, through its name or, for standard input, its descriptor; a
// regular file only), or when two outputs lead to one file. Files compare by
// identity (device and inode; on Windows volume and file ID), so no other
// name, link, hard link, letter case or descriptor (/dev/stdout, a shell's
// `1<>in.y4m`) gets past it; a file not there yet compares by directory and
// name as the file system compares names. The null device is no such file:
// nothing written there is kept. `input_is` names the protected file in the
// message: the input file, or another file the run reads (a plan).
bool check_outputs(const platform::FileInfo& input, const std::vector<RunOutput>& outputs, std::string& error,
                   const char* input_is = "the input file");

// True when the output `path` ("-": standard output) is a terminal.
bool output_is_terminal(const std::string& path);

// Removes every uncommitted temporary output file now; safe in a signal
// handler (used before a fatal exit that skips the destructors).
void remove_uncommitted_outputs();

}  // namespace pelta_cli
