// The clip as `pelta analyze` and `pelta --auto` read it: INPUT opened, its
// format read, and the reader the analysis uses (its ClipReader) chosen by
// what INPUT is:
// - a regular file whose frames all have one size (raw, or Y4M with bare
//   FRAME lines): read where the analysis wants (SeekingClip);
// - anything that cannot seek, and a Y4M file whose FRAME lines carry
//   parameters: read once, front to back (StreamingClip);
// - for --auto from something that cannot seek, the frames it analyses read
//   whole into a scratch copy first, which the analysis then reads as a file
//   and the filter run reads again before the rest (replay()).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "analyze/clip_reader.h"
#include "app/clip_frames.h"
#include "io/y4m.h"

namespace pelta_cli {

class SeekingClip;
class StreamingClip;

// What --auto reads of a pipe before it filters: the frames from 0 to
// `start` + `frames`, or, where `frames` is 0, `start` and as many as the
// analysis reads whole of a file (whole_up_to).
struct AutoCopy {
    long start = 0, frames = 0;
};

class AnalysisInput {
public:
    AnalysisInput();
    ~AnalysisInput();
    AnalysisInput(const AnalysisInput&) = delete;
    AnalysisInput& operator=(const AnalysisInput&) = delete;

    // Opens INPUT ("-": standard input) and reads its format. `copy`
    // (--auto): from what cannot seek, those frames are read into the
    // scratch copy now. `from_stdin` is the command to suggest behind ffmpeg
    // when the input is not Y4M. `opened`: INPUT as the caller opened it
    // already (--auto's filter run, which reads on from it after the
    // analysis when it cannot seek; a file that can is opened again here).
    bool open_input(const std::string& name, bool raw, int raw_w, int raw_h, const std::string& from_stdin,
                    const AutoCopy* copy, std::string& error, std::FILE* opened = nullptr);
    bool usage_error() const { return usage_; }
    int w() const { return format_.w; }
    int h() const { return format_.h; }
    // The reader the analysis reads the clip through.
    ClipReader& clip();
    // Whether INPUT is read once (it cannot seek, or its frames differ in
    // size), not as a file.
    bool read_once() const { return read_once_; }
    // What a pass dropped of an incomplete last frame, when it read that far.
    const Truncation& truncation() const;
    // The most bytes the scratch file held at once (0: none made).
    long long scratch_peak() const;

    // --auto: whether the frames it analyses were read into the scratch copy
    // (INPUT cannot seek).
    bool copied() const { return rest_ != nullptr; }
    // ... and whether the copy holds all the pipe had.
    bool copy_reached_end() const { return copy_reached_end_; }
    // --auto from a pipe: the bytes read so far, then the rest of the pipe.
    std::unique_ptr<ByteSource> replay();

    // A Y4M file taken for one of bare FRAME lines, whose reading by seeking
    // found a line with parameters after all (the analysis then failed):
    // read_as_stream() reads it again from its start, as a pipe is read,
    // for the analysis to run again.
    bool misread() const;
    bool read_as_stream(std::string& error);

private:
    bool start_frames(std::unique_ptr<ByteSource> src, std::unique_ptr<ClipFrames>& frames, std::string& error);
    bool open_stream(std::unique_ptr<ByteSource> src, const AutoCopy* copy, std::string& error);
    bool open_copy(std::unique_ptr<ByteSource> src, const AutoCopy& copy, std::string& error);
    bool open_file(std::FILE* f, long long size, std::string& error);
    bool bare_frame_line_at(long long data_at, size_t record, long frame) const;

    std::string name_, from_stdin_;
    bool usage_ = false, from_pipe_ = false, read_once_ = false;
    ClipFormat format_;
    std::unique_ptr<SeekingClip> seeking_;
    std::unique_ptr<StreamingClip> streaming_;
    std::unique_ptr<ByteSource> rest_;  // --auto from a pipe: the pipe after the copy
    long long copy_peak_ = 0;
    bool copy_reached_end_ = false;
};

}  // namespace pelta_cli
