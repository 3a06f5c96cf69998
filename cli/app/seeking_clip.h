// A clip the analysis reads where it wants, by seeking: a file whose frames
// all have one size (raw, or Y4M with bare FRAME lines), so that frame f lies
// at a known offset; or the scratch copy of a pipe's first frames, whose
// offsets were noted as it was made.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analyze/clip_reader.h"
#include "app/clip_frames.h"

namespace pelta_cli {

class SeekingClip : public ClipReader {
public:
    // A file by name, opened again for every reader: frame f at
    // data_at + f * record.
    SeekingClip(std::string name, const ClipFormat& format, long long data_at, size_t record, long length);
    // A scratch copy, shared by every reader: frame f at offsets[f], the
    // last offset where the copy ends.
    SeekingClip(std::FILE* copy, const ClipFormat& format, std::vector<long long> offsets);
    ~SeekingClip() override;
    SeekingClip(const SeekingClip&) = delete;
    SeekingClip& operator=(const SeekingClip&) = delete;

    bool seekable() const override { return true; }
    long length() const override { return length_; }
    std::unique_ptr<FrameInput> open(long first, std::string& error) override;
    ReadStatus next(std::vector<PIXEL_YC>&, bool, std::string&) override { return ReadStatus::End; }
    void forget(long, long) override {}

    // A file taken for one of bare FRAME lines in which a reader found a
    // line with parameters after all (the read then failed).
    bool misread() const { return misread_; }
    // What a reader dropped of an incomplete last frame, when it read that
    // far.
    const Truncation& truncation() const { return cut_; }
    // The scratch copy, handed over (rewound) to whoever reads it next.
    std::FILE* release_copy();

private:
    std::string name_;
    ClipFormat format_;
    std::FILE* copy_ = nullptr;
    long long data_at_ = 0;
    size_t record_ = 0;
    std::vector<long long> offsets_;
    long length_ = 0;
    bool misread_ = false;
    Truncation cut_;
};

}  // namespace pelta_cli
