// What the command-line host asks of the operating system, in one place:
// platform_posix.cpp answers it on Linux, platform_win.cpp on Windows. The
// rest of the host is the same code on both and names files in the bytes it
// was given (UTF-8 on Windows, where the program's manifest makes that the
// process code page).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

namespace pelta_cli::platform {

// Called once at start: on Windows, standard input, output and error become
// binary (no newline translation, no end at a Ctrl+Z byte), and a console
// shows UTF-8 messages. On POSIX, a closed standard descriptor is held by a
// stand-in that fails every read or write with EBADF, so no file opened
// later can take its place.
void init_process();

enum class FileKind { Missing, Regular, Directory, Pipe, Other };

struct FileInfo {
    FileKind kind = FileKind::Missing;  // Missing: also when it cannot be examined
    // The file's identity, the same for every path that reaches it (links,
    // other spellings of the name): device and inode, or volume serial number
    // and file index. Windows knows it for files on disk only; under Wine, a
    // standard handle made from a Unix descriptor tells its index but not
    // its volume.
    bool has_id = false;
    bool volume_known = true;
    uint64_t volume = 0, index = 0;
    long long size = 0;  // Regular only
    unsigned mode = 0;   // permission bits (POSIX)
};

// True when both name the same file. Where a volume is not known, the index
// alone decides: a file of another volume with the same index is taken for
// the same file, which refuses an output that was safe rather than lets one
// through that was not.
inline bool same_file(const FileInfo& a, const FileInfo& b) {
    return a.has_id && b.has_id && a.index == b.index &&
           (a.volume == b.volume || !a.volume_known || !b.volume_known);
}

// What `path` names, through symbolic links.
FileInfo file_info(const std::string& path);
// What an open stream reads from or writes to (a Pipe: also a socket).
FileInfo stream_info(std::FILE* f);

// Where `path`, a file not there yet, would be made (through symbolic
// links): its directory, and its name there as the file system compares
// names. False when the directory is not there.
bool new_file_place(const std::string& path, FileInfo& dir, std::string& name);

// The null device's name: "/dev/null", or "NUL" on Windows.
extern const char kNullDevice[];

// True when `f` is an interactive terminal (on Windows, a console).
bool is_terminal(std::FILE* f);
// True when `path` names a terminal (on Windows, the console: CON, CONOUT$).
bool names_terminal(const std::string& path);
// True when `f` is a terminal that takes a carriage return and the erase-line
// escape "\x1b[K", as the progress line needs.
bool progress_terminal(std::FILE* f);

// The path a chain of symbolic links ends at (`path` itself when it is no
// link), whether or not that file exists.
std::string follow_links(const std::string& path);

// Creates a new empty file beside `target`, named `target` + ".pelta-tmp-"
// + a unique suffix, with the permissions of `replaced` where that exists
// (else those a new file gets), and opens it for writing. Answers the stream
// and its name, or nullptr and the errno value in `err`. The file can be
// removed by remove_file() while still open.
std::FILE* create_temp_beside(const std::string& target, const FileInfo& replaced, std::string& temp, int& err);
// An unnamed temporary file for reading and writing, in the user's
// temporary folder (TMPDIR, or /tmp; on Windows the user's temp folder),
// gone when it is closed or the process ends; nullptr with errno set when
// none can be made. (The C runtime's tmpfile() ignores TMPDIR, and on
// Windows writes in the root of the drive, which users may not write to.)
std::FILE* scratch_file();
// Moves a file's position to `offset` bytes from its start, beyond 2 GB too.
bool seek_file(std::FILE* f, long long offset);
// Moves `from` over `to` in one step (`to` need not exist). False with the
// errno value in `err`.
bool replace_file(const std::string& from, const std::string& to, int& err);
// Removes a file; safe in a signal handler and from a console control
// handler.
void remove_file(const char* path);

// Arranges that an interruption (Ctrl+C; on POSIX also SIGTERM and SIGHUP)
// calls `cleanup` (safe in a signal handler) and then ends the process as
// the interruption would have; an interruption the caller had ignored stays
// ignored. A write to a closed pipe, or beyond a file size limit, fails with
// an error instead of ending the process.
void on_interrupt(void (*cleanup)());

// True when a write to `f` that failed with errno `err` failed because the
// reading end of a pipe was closed. Ask at once, before any other call.
bool is_closed_pipe(int err, std::FILE* f);
// Ends the process quietly, as a filter whose reader went away ends: by
// SIGPIPE on POSIX; with status 141, what a POSIX shell reports for that, on
// Windows.
[[noreturn]] void end_for_closed_pipe();

// Breaks off a blocking read on another thread: made before that thread
// starts, used after it was told to stop while it may still wait for input.
class ReadInterrupt {
public:
    ReadInterrupt();
    ~ReadInterrupt();
    ReadInterrupt(const ReadInterrupt&) = delete;
    ReadInterrupt& operator=(const ReadInterrupt&) = delete;
    void interrupt(std::thread& reader);
};

// How many CPUs this process may run on (at least 1).
int usable_cpus();

}  // namespace pelta_cli::platform
