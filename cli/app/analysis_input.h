// The clip as `pelta analyze` and `pelta --auto` read it (the analysis's
// ClipReader):
// - a Y4M file with bare FRAME lines, or a raw file, by seeking: every frame
//   has the same size, so frame f lies at a known offset;
// - anything that cannot seek (standard input, a named pipe, /dev/stdin, a
//   shell's <(...)), and a Y4M file whose FRAME lines carry parameters,
//   once, front to back: the frames the analysis keeps go into a scratch
//   file in the user's temporary folder, in slots that forgotten frames
//   free again; later passes read them from there;
// - for --auto from a pipe, the first frames read whole into a scratch copy
//   first, which the analysis then reads as a file, and which the filter run
//   reads again before the rest of the pipe (replay()).
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analyze/analyze.h"
#include "io/y4m.h"

namespace pelta_cli {

class ClipFrames;

class AnalysisInput : public ClipReader {
public:
    AnalysisInput();
    ~AnalysisInput() override;
    AnalysisInput(const AnalysisInput&) = delete;
    AnalysisInput& operator=(const AnalysisInput&) = delete;

    // Opens INPUT ("-": standard input) and reads its format. `prefix` > 0
    // (--auto): from a pipe, that many frames are read into the scratch copy
    // now. `from_stdin` is the command to suggest behind ffmpeg when the
    // input is not Y4M. `opened`: INPUT as the caller opened it already
    // (--auto's filter run, which reads on from it after the analysis when
    // it cannot seek; a file that can is opened again here).
    bool open_input(const std::string& name, bool raw, int raw_w, int raw_h, const std::string& from_stdin,
                    long prefix, std::string& error, std::FILE* opened = nullptr);
    bool usage_error() const { return usage_; }
    int w() const { return w_; }
    int h() const { return h_; }
    // What a pass dropped of an incomplete last frame, when it read that far.
    const Truncation& truncation() const { return cut_; }
    // The most bytes the scratch file held at once (0: none made).
    long long scratch_peak() const { return peak_slots_ * static_cast<long long>(payload_); }

    bool seekable() const override { return mode_ != Mode::Stream; }
    long length() const override { return length_; }
    std::unique_ptr<FrameInput> open(long first, std::string& error) override;
    ReadStatus next(std::vector<PIXEL_YC>& frame, bool keep, std::string& error) override;
    void forget(long first, long end) override;

    // --auto from a pipe: the bytes read so far, then the rest of the pipe.
    std::unique_ptr<ByteSource> replay();

    // A Y4M file taken for one of bare FRAME lines, whose reading by seeking
    // found a line with parameters after all (the analysis then failed):
    // read_as_stream() reads it again from its start, as a pipe is read,
    // for the analysis to run again.
    bool misread() const { return misread_; }
    bool read_as_stream(std::string& error);

private:
    enum class Mode { Seek, Stream };
    bool start_reader(std::unique_ptr<ByteSource> src, std::string& error);
    bool open_stream(std::unique_ptr<ByteSource> src, long prefix, std::string& error);
    bool open_file(std::FILE* f, long long size, std::string& error);
    bool bare_frame_line_at(long frame);
    bool make_scratch(std::string& error);
    bool spool_frame(long f, std::string& error);
    bool read_slot(long slot, std::vector<uint8_t>& payload, std::string& error);
    void unpack(const std::vector<uint8_t>& payload, PIXEL_YC* dst, int stride) const;

    std::string name_, from_stdin_;
    bool raw_ = false, usage_ = false, from_pipe_ = false, misread_ = false;
    int w_ = 0, h_ = 0;
    Mode mode_ = Mode::Seek;
    long length_ = -1;
    // Seek: the file (by name, or the scratch copy of a pipe's first
    // frames), where its frames begin, and each frame's bytes.
    std::FILE* shared_ = nullptr;  // the scratch copy, when seeking in it
    std::string header_;           // the Y4M header line, newline included
    long long data_at_ = 0;
    size_t record_ = 0;
    // Stream: the reader, and the kept frames' slots in the scratch file.
    std::unique_ptr<ClipFrames> reader_;
    std::unique_ptr<ByteSource> stream_source_;  // --auto from a pipe: the pipe after the copy
    std::FILE* scratch_ = nullptr;
    size_t payload_ = 0;
    std::map<long, long> slot_of_;
    std::vector<long> free_slots_;
    long slots_ = 0, peak_slots_ = 0;
    std::vector<uint8_t> payload_buf_;
    Y4mHeader y4m_;
    Truncation cut_;
};

}  // namespace pelta_cli
