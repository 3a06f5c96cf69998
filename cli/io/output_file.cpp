#include "io/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace pelta_cli {

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

}  // namespace

void remove_uncommitted_outputs() {
    for (int i = 0; i < kTempSlots; ++i)
        if (temp_used[i]) platform::remove_file(temp_paths[i]);
}

void install_signal_cleanup() { platform::on_interrupt(remove_uncommitted_outputs); }

void end_for_closed_pipe() {
    remove_uncommitted_outputs();
    platform::end_for_closed_pipe();
}

namespace {

// Where an output name leads: an existing file, or, for a file not there
// yet, its directory and the name it would get there.
struct OutputKey {
    platform::FileInfo file;
    bool exists = false;
    std::string name;
    bool operator==(const OutputKey& o) const {
        return platform::same_file(file, o.file) && exists == o.exists && name == o.name;
    }
};

bool output_key(const std::string& path, OutputKey& key) {
    const platform::FileInfo info = path == "-" ? platform::stream_info(stdout) : platform::file_info(path);
    if (info.kind != platform::FileKind::Missing) {
        key = {info, true, {}};
        return info.has_id;
    }
    if (path == "-") return false;
    platform::FileInfo dir;
    std::string name;
    if (!platform::new_file_place(path, dir, name) || !dir.has_id) return false;
    key = {dir, false, name};
    return true;
}

bool is_null_device(const OutputKey& key) {
    OutputKey null_device;
    return output_key(platform::kNullDevice, null_device) && null_device == key;
}

// True when two output names lead to one file, so that one would overwrite
// or mix into the other.
bool same_output_file(const std::string& a, const std::string& b) {
    OutputKey ka, kb;
    const bool known = output_key(a, ka);
    // Standard output twice is one stream, whatever it is.
    if (a == "-" && b == "-") return !(known && is_null_device(ka));
    if (!known || !output_key(b, kb) || !(ka == kb)) return false;
    return !is_null_device(ka);
}

// True when the output `path` is the file `input`.
bool is_input(const std::string& path, const platform::FileInfo& input) {
    const platform::FileInfo out = path == "-" ? platform::stream_info(stdout) : platform::file_info(path);
    return platform::same_file(out, input);
}

}  // namespace

RunOutput option_output(const std::string& option, const std::string& path) {
    return {path, option + " " + (path == "-" ? std::string("- (standard output)") : "'" + path + "'")};
}

bool check_outputs(const platform::FileInfo& input, const std::vector<RunOutput>& outputs, std::string& error,
                   const char* input_is) {
    for (const RunOutput& o : outputs)
        if (!o.path.empty() && input.kind == platform::FileKind::Regular && is_input(o.path, input)) {
            error = (o.path == "-" ? std::string("standard output") : "'" + o.path + "'") + " is " + input_is +
                    "; write to another file";
            return false;
        }
    for (size_t i = 0; i < outputs.size(); ++i)
        for (size_t j = i + 1; j < outputs.size(); ++j)
            if (!outputs[i].path.empty() && !outputs[j].path.empty() &&
                same_output_file(outputs[i].path, outputs[j].path)) {
                error = outputs[j].label + " and " + outputs[i].label +
                        " are the same file; write them to different files";
                return false;
            }
    return true;
}

bool output_is_terminal(const std::string& path) {
    return path == "-" ? platform::is_terminal(stdout) : platform::names_terminal(path);
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
    const platform::FileInfo existing = platform::file_info(path);
    if (existing.kind == platform::FileKind::Directory) {
        error = "cannot write '" + path + "': it is a directory";
        return false;
    }
    if (existing.kind != platform::FileKind::Missing && existing.kind != platform::FileKind::Regular) {
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
    target_ = platform::follow_links(path);
    int err = 0;
    file_ = platform::create_temp_beside(target_, existing, temp_, err);
    if (!file_) {
        error = "cannot create '" + path + "': " + std::strerror(err);
        return false;
    }
    temp_slot_ = register_temp(temp_);
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    return true;
}

bool OutputFile::write_error(std::string& error) {
    const int err = errno;
    if (platform::is_closed_pipe(err, file_)) reader_gone_ = true;
    error = "cannot write " + (is_stdout_ ? std::string("standard output") : "'" + path_ + "'") + ": " +
            std::strerror(err);
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
    int err = 0;
    if (!platform::replace_file(temp_, target_, err)) {
        error = "cannot rename the finished output to '" + path_ + "': " + std::strerror(err);
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
        platform::remove_file(temp_.c_str());
        unregister_temp(temp_slot_);
        temp_slot_ = -1;
        temp_.clear();
    }
}

}  // namespace pelta_cli
