// The command-line host's system calls on Windows (platform.h).
//
// File names stay narrow strings: pelta.exe's manifest makes UTF-8 the
// process code page (Windows 10 1903 and later), so argv, fopen and the *A
// calls here carry any Unicode name. Temporary outputs are opened with
// FILE_SHARE_DELETE so that the console control handler, which runs on a
// thread of its own while the run may be writing, can remove them.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <pthread.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace pelta_cli::platform {

namespace {

// The console's state as this process found it, put back before it ends.
UINT saved_output_cp = 0;
HANDLE vt_console = INVALID_HANDLE_VALUE;
DWORD saved_vt_mode = 0;

void restore_console() {
    if (saved_output_cp) SetConsoleOutputCP(saved_output_cp);
    if (vt_console != INVALID_HANDLE_VALUE) SetConsoleMode(vt_console, saved_vt_mode);
}

HANDLE handle_of(std::FILE* f) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))); }

bool console_mode(std::FILE* f, DWORD& mode) {
    const HANDLE h = handle_of(f);
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

// What a handle for which GetFileInformationByHandle fails still tells: Wine
// answers it for no standard handle that it made from a Unix descriptor (a
// shell's `< in.y4m`), but gives such a handle's file ID, without its
// volume.
FileInfo info_by_id(HANDLE h) {
    FileInfo info;
    FILE_ID_INFO id{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id) ||
        !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard))
        return info;
    info.kind = standard.Directory ? FileKind::Directory : FileKind::Regular;
    info.has_id = true;
    info.volume = id.VolumeSerialNumber;
    info.volume_known = id.VolumeSerialNumber != 0;
    std::memcpy(&info.index, id.FileId.Identifier, sizeof info.index);
    if (info.kind == FileKind::Regular) info.size = standard.EndOfFile.QuadPart;
    return info;
}

FileInfo info_of(HANDLE h) {
    FileInfo info;
    switch (GetFileType(h)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION bh;
            if (!GetFileInformationByHandle(h, &bh)) return info_by_id(h);
            info.kind = bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Directory : FileKind::Regular;
            info.has_id = true;
            info.volume = bh.dwVolumeSerialNumber;
            info.index = static_cast<uint64_t>(bh.nFileIndexHigh) << 32 | bh.nFileIndexLow;
            if (info.kind == FileKind::Regular)
                info.size = static_cast<long long>(static_cast<uint64_t>(bh.nFileSizeHigh) << 32 | bh.nFileSizeLow);
            return info;
        }
        case FILE_TYPE_PIPE: info.kind = FileKind::Pipe; return info;
        case FILE_TYPE_UNKNOWN:
            if (GetLastError() != NO_ERROR) return info;
            [[fallthrough]];
        default: info.kind = FileKind::Other; return info;  // a device: NUL, CON, a port
    }
}

// Opens `path` to read its attributes only (a directory too).
HANDLE open_attributes(const std::string& path, DWORD flags) {
    return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// The errno value for a Windows error, for the messages the host prints.
int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        default: return EINVAL;
    }
}

}  // namespace

void init_process() {
    // Y4M in and out, and messages byte for byte as on Linux (LF line ends).
    for (std::FILE* f : {stdin, stdout, stderr}) _setmode(_fileno(f), _O_BINARY);
    // Messages are UTF-8 under the manifest; a console shows them as such
    // only in its UTF-8 code page.
    DWORD mode;
    if (GetACP() == CP_UTF8 && (console_mode(stderr, mode) || console_mode(stdout, mode))) {
        const UINT cp = GetConsoleOutputCP();
        if (cp != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            saved_output_cp = cp;
            std::atexit(restore_console);
        }
    }
}

FileInfo file_info(const std::string& path) {
    const HANDLE h = open_attributes(path, 0);
    if (h == INVALID_HANDLE_VALUE) return {};
    const FileInfo info = info_of(h);
    CloseHandle(h);
    return info;
}

FileInfo stream_info(std::FILE* f) {
    const HANDLE h = handle_of(f);
    return h == INVALID_HANDLE_VALUE ? FileInfo{} : info_of(h);
}

bool new_file_place(const std::string& path, FileInfo& dir, std::string& name) {
    const std::string target = follow_links(path);
    const size_t cut = target.find_last_of("/\\:");
    std::string folder = cut == std::string::npos ? "." : target.substr(0, cut + 1);
    if (folder.back() == ':') folder += '.';  // "C:name": the current directory of drive C
    dir = file_info(folder);
    // Names compare without regard to letter case: compare them upper-cased.
    const std::string leaf = target.substr(cut == std::string::npos ? 0 : cut + 1);
    const int n = MultiByteToWideChar(CP_ACP, 0, leaf.data(), static_cast<int>(leaf.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, leaf.data(), static_cast<int>(leaf.size()), wide.data(), n);
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), n, wide.data(), n, nullptr, nullptr, 0);
    name.assign(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), n, name.data(), static_cast<int>(name.size()), nullptr, nullptr);
    return dir.kind != FileKind::Missing;
}

const char kNullDevice[] = "NUL";

bool is_terminal(std::FILE* f) {
    DWORD mode;
    return console_mode(f, mode);
}

bool names_terminal(const std::string& path) {
    // Only a device can be one (opening a pipe's name would take a server's
    // connection).
    const FileKind kind = file_info(path).kind;
    if (kind != FileKind::Other && kind != FileKind::Missing) return false;
    // GetConsoleMode needs read access; CON opened for reading is the
    // console's input, which tells as well.
    const HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD mode;
    const bool console = GetConsoleMode(h, &mode);
    CloseHandle(h);
    return console;
}

bool progress_terminal(std::FILE* f) {
    DWORD mode;
    if (!console_mode(f, mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    // Consoles before Windows 10 do not take escapes: no progress line there.
    const HANDLE h = handle_of(f);
    if (!SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
    if (vt_console == INVALID_HANDLE_VALUE) {
        vt_console = h;
        saved_vt_mode = mode;
        if (!saved_output_cp) std::atexit(restore_console);
    }
    return true;
}

std::string follow_links(const std::string& path) {
    // Only a symbolic link is followed (not a junction or another reparse
    // point), and only to a file that exists: a dangling link is replaced.
    HANDLE h = open_attributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) return path;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool link = GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
                      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && tag.ReparseTag == IO_REPARSE_TAG_SYMLINK;
    CloseHandle(h);
    if (!link) return path;
    h = open_attributes(path, 0);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::vector<char> buf(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleA(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFinalPathNameByHandleA(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    return n > 0 && n < buf.size() ? std::string(buf.data(), n) : path;
}

std::FILE* create_temp_beside(const std::string& target, const FileInfo&, std::string& temp, int& err) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t seed = GetTickCount64() * 1000003u + GetCurrentProcessId() * 7919u + counter++;
        std::string name = target + ".pelta-tmp-";
        for (int i = 0; i < 6; ++i, seed /= 36) name += kDigits[seed % 36];
        const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
            err = errno_of(e);
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
        std::FILE* f = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (!f) {
            err = errno ? errno : EMFILE;
            if (fd >= 0)
                _close(fd);
            else
                CloseHandle(h);
            DeleteFileA(name.c_str());
            return nullptr;
        }
        temp = name;
        return f;
    }
    err = EEXIST;
    return nullptr;
}

std::FILE* scratch_file() {
    char dir[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || !GetTempFileNameA(dir, "plt", 0, name)) {
        errno = errno_of(GetLastError());
        return nullptr;
    }
    const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        DeleteFileA(name);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "w+b");
    if (!f) _close(fd);
    return f;
}

bool seek_file(std::FILE* f, long long offset) { return _fseeki64(f, offset, SEEK_SET) == 0; }

bool replace_file(const std::string& from, const std::string& to, int& err) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    err = errno_of(GetLastError());
    return false;
}

void remove_file(const char* path) { DeleteFileA(path); }

namespace {

void (*interrupt_cleanup)() = nullptr;

// Runs on a thread of its own: removes the temporary files (open ones are
// removed when the process ends, which closes them) and ends the process as
// Ctrl+C ends a console program.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (interrupt_cleanup) interrupt_cleanup();
            restore_console();
            ExitProcess(STATUS_CONTROL_C_EXIT);
        default: return FALSE;
    }
}

}  // namespace

void on_interrupt(void (*cleanup)()) {
    interrupt_cleanup = cleanup;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool is_closed_pipe(int err, std::FILE* f) {
    // The C runtime turns these into EINVAL or EPIPE: the last Windows error
    // tells. A pipe whose reader is gone fails with ERROR_NO_DATA on Windows,
    // with ERROR_PIPE_NOT_CONNECTED under Wine.
    auto closed = [](DWORD e) { return e == ERROR_NO_DATA || e == ERROR_PIPE_NOT_CONNECTED || e == ERROR_BROKEN_PIPE; };
    if (err == EPIPE || closed(GetLastError())) return true;
    // A short write with no error (Wine, when the reader leaves part way
    // through a write): one more byte tells. The output is incomplete
    // already, and the run ends either way.
    if (!f || err != EINVAL || GetLastError() != NO_ERROR) return false;
    const HANDLE h = handle_of(f);
    if (GetFileType(h) != FILE_TYPE_PIPE) return false;
    DWORD written = 0;
    return !WriteFile(h, "", 1, &written, nullptr) && closed(GetLastError());
}

void end_for_closed_pipe() {
    restore_console();
    std::_Exit(141);
}

ReadInterrupt::ReadInterrupt() = default;
ReadInterrupt::~ReadInterrupt() = default;

// A synchronous read (ReadFile on a pipe, under fread) ends with
// ERROR_OPERATION_ABORTED.
void ReadInterrupt::interrupt(std::thread& reader) {
    CancelSynchronousIo(static_cast<HANDLE>(pthread_gethandle(reader.native_handle())));
}

int usable_cpus() {
    DWORD_PTR process = 0, system = 0;
    int cpus = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        cpus = std::popcount(static_cast<uint64_t>(process));
    if (cpus <= 0) cpus = static_cast<int>(std::thread::hardware_concurrency());
    return cpus > 0 ? cpus : 1;
}

}  // namespace pelta_cli::platform
