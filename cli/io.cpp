#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace pelta_cli {

ReadStatus Y4mFrameInput::next(PIXEL_YC* dst, int stride, std::string& error) {
    ReadStatus s = reader_.read_frame(planes_, error);
    if (s == ReadStatus::Frame) {
        const Y4mHeader& hd = reader_.header();
        planes_to_yc(planes_.data(), hd.chroma, hd.width, hd.height, dst, stride);
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
    for (int i = 0; i < kTempSlots; ++i)
        if (temp_used[i]) unlink(temp_paths[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void install_signal_cleanup() {
    // A signal the caller had us ignore (a background job's SIGINT, nohup's
    // SIGHUP) stays ignored.
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (std::signal(sig, remove_temps_and_die) == SIG_IGN) std::signal(sig, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
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
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
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
    std::string tmpl = path + ".pelta-tmp-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) {
        error = "cannot create '" + path + "': " + std::strerror(errno);
        return false;
    }
    temp_ = buf.data();
    temp_slot_ = register_temp(temp_);
    // mkstemp makes the file private; give it the mode a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
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

bool OutputFile::write(const void* data, size_t n, std::string& error) {
    if (failed_ || std::fwrite(data, 1, n, file_) != n) {
        failed_ = true;
        error = "cannot write '" + path_ + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputFile::finish(std::string& error) {
    if (!file_) return true;
    if (std::fflush(file_) != 0) {
        error = "cannot write '" + path_ + "': " + std::strerror(errno);
        return false;
    }
    if (is_stdout_) return true;
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) {
        error = "cannot write '" + path_ + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputFile::publish(std::string& error) {
    if (temp_.empty()) return true;
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
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

Y4mFrameOutput::Y4mFrameOutput(OutputFile& file, Chroma chroma, int w, int h)
    : file_(file), chroma_(chroma), w_(w), h_(h) {
    static const char kFrameHeader[] = "FRAME\n";
    const size_t head = sizeof kFrameHeader - 1;
    buf_.resize(head + plane_sizes(chroma_, w_, h_).frame());
    std::memcpy(buf_.data(), kFrameHeader, head);
}

bool Y4mFrameOutput::put(const PIXEL_YC* frame, int stride, std::string& error) {
    yc_to_planes(frame, stride, w_, h_, chroma_, buf_.data() + 6);
    return file_.write(buf_.data(), buf_.size(), error);
}

RawFrameOutput::RawFrameOutput(OutputFile& file, int w, int h) : file_(file), w_(w), h_(h) {
    buf_.resize(static_cast<size_t>(w_) * h_ * 6);
}

bool RawFrameOutput::put(const PIXEL_YC* frame, int stride, std::string& error) {
    pack_raw_frame(frame, stride, w_, h_, buf_.data());
    return file_.write(buf_.data(), buf_.size(), error);
}

}  // namespace pelta_cli
