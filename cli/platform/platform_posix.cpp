// The command-line host's system calls on Linux (platform.h).
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <csignal>
#include <vector>

#include "platform/platform.h"

namespace pelta_cli::platform {

void init_process() {
    // A standard descriptor the caller closed (`<&-`, `>&-`) gets a stand-in,
    // so that no file opened later takes its number: a write meant for
    // standard output would land in whatever file got descriptor 1. The
    // stand-in is the null device opened the wrong way round, so using the
    // stream still fails with EBADF, as on the closed descriptor.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int got = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (got >= 0 && got != fd) {
            dup2(got, fd);
            close(got);
        }
    }
}

namespace {

FileInfo info_of(const struct stat& st) {
    FileInfo info;
    if (S_ISREG(st.st_mode))
        info.kind = FileKind::Regular;
    else if (S_ISDIR(st.st_mode))
        info.kind = FileKind::Directory;
    else if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        info.kind = FileKind::Pipe;
    else
        info.kind = FileKind::Other;
    info.has_id = true;
    info.volume = static_cast<uint64_t>(st.st_dev);
    info.index = static_cast<uint64_t>(st.st_ino);
    if (info.kind == FileKind::Regular) info.size = static_cast<long long>(st.st_size);
    info.mode = st.st_mode & 07777;
    return info;
}

}  // namespace

FileInfo file_info(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? info_of(st) : FileInfo{};
}

FileInfo stream_info(std::FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 ? info_of(st) : FileInfo{};
}

bool new_file_place(const std::string& path, FileInfo& dir, std::string& name) {
    const std::string target = follow_links(path);
    const size_t slash = target.rfind('/');
    dir = file_info(slash == std::string::npos ? "." : target.substr(0, slash + 1));
    name = target.substr(slash == std::string::npos ? 0 : slash + 1);
    return dir.kind != FileKind::Missing;
}

const char kNullDevice[] = "/dev/null";

bool is_terminal(std::FILE* f) { return isatty(fileno(f)); }

bool names_terminal(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    const bool tty = isatty(fd);
    close(fd);
    return tty;
}

bool progress_terminal(std::FILE* f) { return is_terminal(f); }

std::string follow_links(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::vector<char> buf(4096);
        const ssize_t n = readlink(p.c_str(), buf.data(), buf.size());
        if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return p;
        std::string link(buf.data(), static_cast<size_t>(n));
        // A relative link is relative to the directory holding it.
        const size_t slash = p.rfind('/');
        if (link[0] != '/' && slash != std::string::npos) link = p.substr(0, slash + 1) + link;
        p = link;
    }
    return p;
}

std::FILE* create_temp_beside(const std::string& target, const FileInfo& replaced, std::string& temp, int& err) {
    std::string tmpl = target + ".pelta-tmp-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) {
        err = errno;
        return nullptr;
    }
    // mkstemp makes the file private; give it the mode of the file it
    // replaces, or the one a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, replaced.kind == FileKind::Regular ? replaced.mode : 0666 & ~mask);
    std::FILE* f = fdopen(fd, "wb");
    if (!f) {
        err = errno;
        close(fd);
        unlink(buf.data());
        return nullptr;
    }
    temp = buf.data();
    return f;
}

std::FILE* scratch_file() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/pelta-scratch-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return nullptr;
    unlink(path.c_str());  // gone with the last descriptor
    std::FILE* f = fdopen(fd, "w+b");
    if (!f) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

bool seek_file(std::FILE* f, long long offset) { return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool replace_file(const std::string& from, const std::string& to, int& err) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    err = errno;
    return false;
}

void remove_file(const char* path) { unlink(path); }

namespace {

void (*interrupt_cleanup)() = nullptr;

extern "C" void clean_up_and_die(int sig) {
    if (interrupt_cleanup) interrupt_cleanup();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void on_interrupt(void (*cleanup)()) {
    interrupt_cleanup = cleanup;
    // A signal the caller had us ignore (a background job's SIGINT, nohup's
    // SIGHUP) stays ignored.
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (std::signal(sig, clean_up_and_die) == SIG_IGN) std::signal(sig, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool is_closed_pipe(int err, std::FILE*) { return err == EPIPE; }

void end_for_closed_pipe() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    _exit(128 + SIGPIPE);  // only if the signal did not end the process
}

// SIGUSR1, sent to the reading thread, interrupts its read (the handler is
// installed without SA_RESTART) and does nothing else.
namespace {
extern "C" void interrupt_read(int) {}
struct sigaction saved_usr1;
}  // namespace

ReadInterrupt::ReadInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = interrupt_read;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGUSR1, &sa, &saved_usr1);
}

ReadInterrupt::~ReadInterrupt() { sigaction(SIGUSR1, &saved_usr1, nullptr); }

void ReadInterrupt::interrupt(std::thread& reader) { pthread_kill(reader.native_handle(), SIGUSR1); }

int usable_cpus() {
    cpu_set_t set;
    long cpus = 0;
    if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = CPU_COUNT(&set);
    if (cpus <= 0) cpus = static_cast<long>(std::thread::hardware_concurrency());
    return cpus > 0 ? static_cast<int>(cpus) : 1;
}

}  // namespace pelta_cli::platform
