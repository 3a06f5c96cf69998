#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace pelta_cli {

using namespace pelta;

ReadStatus Y4mFrameInput::next(PIXEL_YC* dst, int stride, std::string& error) {
    ReadStatus s = reader_.read_frame(planes_, error);
    if (s == ReadStatus::Frame) {
        const Y4mHeader& hd = reader_.header();
        planes_to_yc(planes_.data(), hd.chroma, hd.width, hd.height, dst, stride, hd.depth);
        if (params_) params_->push(reader_.frame_params());
    }
    return s;
}

// ---- temporary files removed on a signal -----------------------------------

namespace {

// Paths of the uncommitted temporary files, kept in fixed storage so the
// signal handler can reach them without allocating.
constexpr int kTempSlots = 4;
constexpr size_t kTempPath = 4096;
char temp_paths[kTempSlots][kTempPath];
volatile sig_atomic_t temp_used[kTempSlots];

int register_temp(const std::string& path) {
    if (path.size() >= kTempPath) return -1;
    for (int i = 0; i < kTempSlots; ++i)
        if (!temp_used[i]) {
            std::memcpy(temp_paths[i], path.c_str(), path.size() + 1);
            temp_used[i] = 1;
            return i;
        }
    return -1;
}

void unregister_temp(int slot) {
    if (slot >= 0) temp_used[slot] = 0;
}

extern "C" void remove_temps_and_die(int sig) {
    remove_uncommitted_outputs();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void remove_uncommitted_outputs() {
    for (int i = 0; i < kTempSlots; ++i)
        if (temp_used[i]) unlink(temp_paths[i]);
}

void install_signal_cleanup() {
    // A signal the caller had us ignore (a background job's SIGINT, nohup's
    // SIGHUP) stays ignored.
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (std::signal(sig, remove_temps_and_die) == SIG_IGN) std::signal(sig, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void end_for_closed_pipe() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);
    remove_temps_and_die(SIGPIPE);
    _exit(128 + SIGPIPE);  // only if the signal did not end the process
}

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

bool is_same_file(const std::string& path, const struct stat& st) {
    struct stat other;
    return stat(path.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}

namespace {

// Where an output name leads: an existing file's device and inode, or, for a
// file not there yet, its directory's and the name it would get there.
struct OutputKey {
    dev_t dev = 0;
    ino_t ino = 0;
    bool exists = false;
    std::string name;
    bool operator==(const OutputKey& o) const {
        return dev == o.dev && ino == o.ino && exists == o.exists && name == o.name;
    }
};

bool output_key(const std::string& path, OutputKey& key) {
    struct stat st;
    if (path == "-" ? fstat(STDOUT_FILENO, &st) == 0 : stat(path.c_str(), &st) == 0) {
        key = {st.st_dev, st.st_ino, true, {}};
        return true;
    }
    if (path == "-") return false;
    const std::string target = follow_links(path);
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    if (stat(dir.c_str(), &st) != 0) return false;
    key = {st.st_dev, st.st_ino, false, target.substr(slash == std::string::npos ? 0 : slash + 1)};
    return true;
}

}  // namespace

bool same_output_file(const std::string& a, const std::string& b) {
    OutputKey ka, kb, null_device;
    if (!output_key(a, ka) || !output_key(b, kb) || !(ka == kb)) return false;
    return !(output_key("/dev/null", null_device) && null_device == ka);
}

bool output_is_terminal(const std::string& path) {
    if (path == "-") return isatty(STDOUT_FILENO);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    const bool tty = isatty(fd);
    close(fd);
    return tty;
}

// ---- OutputFile -------------------------------------------------------------

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& path, std::string& error) {
    path_ = path;
    if (path == "-") {
        file_ = stdout;
        is_stdout_ = true;
        return true;
    }
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot write '" + path + "': it is a directory";
            return false;
        }
        // A device or a pipe: write to it as it is; there is nothing to rename.
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) {
            error = "cannot open '" + path + "' for writing: " + std::strerror(errno);
            return false;
        }
        return true;
    }
    // The new file replaces the one the name leads to: through a symbolic
    // link, its target, so the link stays a link.
    target_ = follow_links(path);
    std::string tmpl = target_ + ".pelta-tmp-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) {
        error = "cannot create '" + path + "': " + std::strerror(errno);
        return false;
    }
    temp_ = buf.data();
    temp_slot_ = register_temp(temp_);
    // mkstemp makes the file private; give it the mode of the file it
    // replaces, or the one a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        error = "cannot create '" + path + "': " + std::strerror(errno);
        close(fd);
        discard();
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    return true;
}

bool OutputFile::write_error(std::string& error) {
    if (errno == EPIPE) reader_gone_ = true;
    error = "cannot write '" + path_ + "': " + std::strerror(errno);
    return false;
}

bool OutputFile::write(const void* data, size_t n, std::string& error) {
    if (failed_ || std::fwrite(data, 1, n, file_) != n) {
        failed_ = true;
        return write_error(error);
    }
    return true;
}

bool OutputFile::finish(std::string& error) {
    if (!file_) return true;
    if (std::fflush(file_) != 0) return write_error(error);
    if (is_stdout_) return true;
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) return write_error(error);
    return true;
}

bool OutputFile::publish(std::string& error) {
    if (temp_.empty()) return true;
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        error = "cannot rename the finished output to '" + path_ + "': " + std::strerror(errno);
        return false;
    }
    unregister_temp(temp_slot_);
    temp_slot_ = -1;
    temp_.clear();
    return true;
}

void OutputFile::discard() {
    if (file_ && !is_stdout_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        unregister_temp(temp_slot_);
        temp_slot_ = -1;
        temp_.clear();
    }
}

// ---- frame outputs ------------------------------------------------------------

Y4mFrameOutput::Y4mFrameOutput(OutputFile& file, Chroma chroma, int w, int h, int depth, FrameParamQueue* params)
    : file_(file), chroma_(chroma), w_(w), h_(h), depth_(depth), params_(params) {
    static const char kFrameHeader[] = "FRAME\n";
    const size_t head = sizeof kFrameHeader - 1;
    buf_.resize(head + plane_sizes(chroma_, w_, h_, depth_).frame());
    std::memcpy(buf_.data(), kFrameHeader, head);
}

bool Y4mFrameOutput::put(const PIXEL_YC* frame, int stride, std::string& error) {
    yc_to_planes(frame, stride, w_, h_, chroma_, buf_.data() + 6, depth_);
    const std::string params = params_ ? params_->pop() : std::string();
    if (params.empty()) return file_.write(buf_.data(), buf_.size(), error);
    // "FRAME" and the input frame's parameters, then the planes.
    const std::string head = "FRAME" + params + "\n";
    return file_.write(head.data(), head.size(), error) && file_.write(buf_.data() + 6, buf_.size() - 6, error);
}

RawFrameOutput::RawFrameOutput(OutputFile& file, int w, int h) : file_(file), w_(w), h_(h) {
    buf_.resize(static_cast<size_t>(w_) * h_ * 6);
}

bool RawFrameOutput::put(const PIXEL_YC* frame, int stride, std::string& error) {
    pack_raw_frame(frame, stride, w_, h_, buf_.data());
    return file_.write(buf_.data(), buf_.size(), error);
}

}  // namespace pelta_cli
