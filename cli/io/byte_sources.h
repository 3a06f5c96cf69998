// Byte sources built from others: a copy kept of what is read (TeeSource),
// one source after another (ChainSource), a file source that closes its
// file (OwnedFileSource), and a memory source that owns its bytes
// (OwnedMemorySource). The analysis's input reads a pipe through them.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "io/y4m.h"

namespace pelta_cli {

// Passes every byte read from `src` on, and keeps a copy in `copy`; the
// first write that fails ends the reading at once.
class TeeSource : public ByteSource {
public:
    TeeSource(ByteSource& src, std::FILE* copy) : src_(src), copy_(copy) {}
    size_t read(void* dst, size_t n) override {
        if (copy_failed_) return 0;
        const size_t got = src_.read(dst, n);
        if (got && std::fwrite(dst, 1, got, copy_) != got) fail();
        return copy_failed_ ? 0 : got;
    }
    int get() override {
        if (copy_failed_) return -1;
        const int c = src_.get();
        if (c >= 0 && std::fputc(c, copy_) == EOF) fail();
        return copy_failed_ ? -1 : c;
    }
    bool failed() const override { return src_.failed() || copy_failed_; }
    std::string error_text() const override {
        return copy_failed_ ? "cannot keep a copy of the input in a temporary file (TMPDIR): " + why_
                            : src_.error_text();
    }

private:
    void fail() {
        copy_failed_ = true;
        why_ = std::strerror(errno);
    }
    ByteSource& src_;
    std::FILE* copy_;
    bool copy_failed_ = false;
    std::string why_;
};

// The bytes of `first`, then those of `second`.
class ChainSource : public ByteSource {
public:
    ChainSource(std::unique_ptr<ByteSource> first, std::unique_ptr<ByteSource> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    size_t read(void* dst, size_t n) override {
        size_t got = 0;
        if (!first_done_) {
            got = first_->read(dst, n);
            if (got < n) first_done_ = true;
        }
        if (got < n && !first_->failed()) got += second_->read(static_cast<char*>(dst) + got, n - got);
        return got;
    }
    int get() override {
        if (!first_done_) {
            const int c = first_->get();
            if (c >= 0) return c;
            first_done_ = true;
            if (first_->failed()) return -1;
        }
        return second_->get();
    }
    bool failed() const override { return first_->failed() || second_->failed(); }
    std::string error_text() const override { return first_->failed() ? first_->error_text() : second_->error_text(); }

private:
    std::unique_ptr<ByteSource> first_, second_;
    bool first_done_ = false;
};

// A file source that closes its file, unless it is shared.
class OwnedFileSource : public ByteSource {
public:
    explicit OwnedFileSource(std::FILE* f, bool close = true) : file_(f), close_(close), source_(f) {}
    ~OwnedFileSource() override {
        if (close_ && file_) std::fclose(file_);
    }
    size_t read(void* dst, size_t n) override { return source_.read(dst, n); }
    int get() override { return source_.get(); }
    bool failed() const override { return source_.failed(); }
    std::string error_text() const override { return source_.error_text(); }

private:
    std::FILE* file_;
    bool close_;
    FileSource source_;
};

// A memory source that owns its bytes.
class OwnedMemorySource : public ByteSource {
public:
    explicit OwnedMemorySource(std::string bytes)
        : bytes_(std::move(bytes)), source_(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size()) {}
    size_t read(void* dst, size_t n) override { return source_.read(dst, n); }
    int get() override { return source_.get(); }
    bool failed() const override { return false; }

private:
    std::string bytes_;
    MemorySource source_;
};

}  // namespace pelta_cli
