// The command-line stand-in for the editor: loads the filter through its
// descriptor, serves its host services from a small ring of decoded frames,
// and runs it over a clip one frame at a time, in order. With more than one
// thread, reading and converting the input and converting and writing the
// output run on threads of their own, overlapping the filter, which still
// runs one frame at a time, in order, on the thread that calls run().
// host.cpp is the editor's side (the filter's record, its services, one call
// of the frame procedure); streaming.cpp runs it over the clip.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "abi/controls.h"
#include "abi/host_records.h"
#include "host/plan.h"
#include "io/y4m.h"

namespace pelta_cli {

struct Controls {
    int track[pelta::TRACK_COUNT];
    int check[pelta::CHECK_COUNT];
    friend bool operator==(const Controls&, const Controls&) = default;
};

// The descriptor's defaults.
Controls default_controls(const FILTER_DLL* desc);

// Where the host's input frames come from: the next frame of the clip, decoded
// into w x h pixels whose rows are `stride` pixels apart.
class FrameInput {
public:
    virtual ~FrameInput() = default;
    virtual ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) = 0;
    // The same, asking `dst` for the frame's buffer only once the frame has
    // arrived, so that a frame that never comes costs no buffer. Readers that
    // hold a frame's bytes before decoding it do so; others ask first.
    virtual ReadStatus next_into(const std::function<PIXEL_YC*()>& dst, int stride, std::string& error) {
        return next(dst(), stride, error);
    }
};

// What a run says when a frame buffer cannot be had.
inline constexpr char kNoFrameMemory[] = "not enough memory for frames of this size";

// Where the output frames go, in order.
class FrameOutput {
public:
    virtual ~FrameOutput() = default;
    virtual bool put(const PIXEL_YC* frame, int stride, std::string& error) = 0;
};

// What happened to one frame.
struct FrameReport {
    long frame = 0;
    bool ok = false;        // filter_proc answered TRUE
    bool passed = false;    // not filtered: the frame passed through as it came (a schedule)
    bool titled = false;    // the filter set its window title during the frame
    bool parsed = false;    // ... and the title read as "<name> num:N comb:N comb_th:N"
    int match = 0, comb = 0, comb_th = 0;
    std::string title;
};

// Reads the filter's decision from its window title, "<name> num:N comb:N
// comb_th:N", into r's match, comb and comb_th; false for any other text.
bool parse_title(const char* text, const char* name, FrameReport& r);

struct RunStats {
    long frames = 0;
    long failed = 0;
    long passed = 0;  // frames passed through without the filter (a schedule)
    // Frame requests inside the clip but outside the five cached frames; the
    // filter is answered NULL for them (it never asks for such frames).
    long uncached_requests = 0;
};

// A stretch of the clip that the filter runs on, under its own controls.
struct FilterStretch {
    long start = 0;
    long frames = 0;  // or kThroughEnd
    Controls controls{};
};
// Stretches in frame order, none overlapping another; the frames in none of
// them pass the filter by.
using FilterSchedule = std::vector<FilterStretch>;

// The stretch that holds frame f, or null.
const FilterStretch* stretch_at(const FilterSchedule& schedule, long f);

// The controls frame f of `stretch` is filtered with: the stretch's, with
// the window closed (width 0) where f's partner frame, the other frame of
// its pair {2k, 2k+1} from which the window is rebuilt, lies outside the
// stretch. A stretch that begins on an odd frame or ends on an even one
// meets other footage there, often across a cut: the partner's field would
// tear the window, where field matching alone leaves it no worse than it
// came.
Controls controls_at(const FilterStretch& stretch, long f);

// Sees the frames of a schedule's stretches on their way through a run:
// each filtered frame as it was read (input) and as it goes to the output
// (output), with the index of its stretch in the schedule. input() is called
// where frames are read (the reader thread, with threads), output() where
// they are written (the writer thread), each in frame order; the two may run
// at the same time, so an implementation keeps what each of them touches
// apart. Passed frames are not shown.
class StretchProbe {
public:
    virtual ~StretchProbe() = default;
    virtual void input(size_t stretch, long frame, const PIXEL_YC* pixels, int stride) = 0;
    virtual void output(size_t stretch, long frame, const PIXEL_YC* pixels, int stride) = 0;
};

class EditorHost {
public:
    // Loads the filter from its descriptor (what GetFilterTable returned) for
    // w x h frames with rows max_w pixels apart (max_w >= w). `saving` is the
    // is_saving answer. `threads` 1 does everything on the calling thread;
    // 2 or more read and write on two more threads. The frame buffers are
    // made as frames arrive that need them, not from the size alone: a clip
    // of n frames holds at most kRing + n of them (the ring's slots and the
    // pool's), and never more than frame_buffers().
    EditorHost(const FILTER_DLL* desc, int w, int h, int max_w, const Controls& controls, bool saving,
               int threads = 1);
    ~EditorHost();
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    // Runs the filter over every frame of `in`, writing each result to `out`
    // and then reporting it (on_frame runs where the output is written, in
    // frame order). Stops at the first read or write error; which error is
    // reported, and what was written and reported before it, are the same
    // for every number of threads.
    bool run(FrameInput& in, FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame,
             std::string& error);

    // Before run(): filter only the frames of `schedule`'s stretches, each
    // under its stretch's controls. Controls that differ from those in force
    // are put in place before the stretch's first frame and announced to the
    // filter with its settings-change handler, as the editor announces a
    // change of settings (which empties the filter's match cache). Every
    // other frame passes through: the filter is not called for it and its
    // output is its input. It stays in the ring all the same, since filtered
    // frames beside it read it.
    void follow(FilterSchedule schedule);
    // With follow(), before run(): shows `probe` every frame of the
    // schedule's stretches, read and filtered.
    void probe(StretchProbe* probe) { probe_ = probe; }

    const RunStats& stats() const { return stats_; }
    // The most frame buffers of max_w x h pixels a run holds: 7 on one
    // thread, 13 with the reader and writer threads.
    size_t frame_buffers() const { return ring_.size() + pool_limit_; }

    // Frames the filter may read: the current frame and two on each side.
    static constexpr int kRing = 5;
    // With threads: frames the reader may decode beyond those, and output
    // frames that may wait for the writer, so memory stays at a few frames
    // whatever the clip's length.
    static constexpr int kReadAhead = 1;
    static constexpr int kOutputQueue = 1;

    // A filtered frame on its way to the output, with what is reported of
    // it; whatever else travels from a frame's input to its output goes here.
    struct OutputItem {
        PIXEL_YC* frame = nullptr;  // a buffer of the pool
        FrameReport report;
    };

private:
    PELTA_HOST_SERVICE static BOOL svc_is_saving(void* editp);
    PELTA_HOST_SERVICE static BOOL svc_set_cache_size(void* fp, int w, int h, int d, int flag);
    PELTA_HOST_SERVICE static PIXEL_YC* svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out);

    // Runs the filter on frame f (in the ring) with its working frames
    // `edit` (a copy of the frame) and `temp`, as the editor calls the frame
    // procedure, and fills `item` with the frame to write and its report.
    // Answers the working frame that is free again.
    PIXEL_YC* filter_frame(long f, PIXEL_YC* edit, PIXEL_YC* temp, OutputItem& item);
    // Frame f by the schedule: filtered under its stretch's controls, or
    // passed through with `edit` (its copy) as the output. Answers the
    // working frame that is free again.
    PIXEL_YC* process_frame(long f, PIXEL_YC* edit, PIXEL_YC* temp, OutputItem& item);

    PIXEL_YC* ring_frame(long n) { return ring_[static_cast<size_t>(n % static_cast<long>(ring_.size()))].get(); }
    // Frame n's slot in the ring, made on first use.
    PIXEL_YC* ring_slot(long n);
    // Reads the next frame into slot n of the ring; a failure to get memory
    // for it is a read error.
    ReadStatus read_frame(FrameInput& in, long n, std::string& error);
    // Makes frames through `upto` available, or the end of the clip known:
    // reads them (one thread) or waits for the reader. False on a read error
    // of one of those frames.
    bool input_through(FrameInput& in, long upto, std::string& error);
    // Reads frames until `upto` is loaded or the clip ends.
    bool load_through(FrameInput& in, long upto, std::string& error);
    // The reader thread: decodes frames into the ring as slots come free.
    void read_ahead(FrameInput& in);
    // A free buffer of the pool; null once a write failed (for the filter)
    // or the reader is to stop (for the reader).
    PIXEL_YC* take_buffer(bool for_reader);
    // Writes one frame and reports it, then returns its buffer to the pool.
    bool deliver(FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame, OutputItem& item,
                 std::string& error);
    // The writer thread: delivers queued frames in order.
    void write_behind(FrameOutput& out, const std::function<void(const FrameReport&)>& on_frame);
    // Ends the reader thread, interrupting a read that waits for input.
    void stop_reader();
    PIXEL_YC padding_pixel() const;
    void fill_padding(PIXEL_YC* frame) const;
    void fill_all(PIXEL_YC* frame) const;

    int w_, h_, max_w_;
    Controls controls_;
    bool saving_;
    EXFUNC exfunc_{};
    FILTER filter_{};
    int hwnd_token_ = 0;
    std::optional<FilterSchedule> schedule_;  // none: every frame is filtered
    StretchProbe* probe_ = nullptr;
    // The index of the schedule's stretch that holds frame f, or -1.
    long stretch_index(long f) const;

    int threads_;
    // Frame buffers of max_w x h pixels, allocated without a first fill: the
    // host writes every pixel before anything reads it.
    using FrameBuffer = std::unique_ptr<PIXEL_YC[]>;
    size_t pixels_;
    std::vector<FrameBuffer> ring_;  // frame n in slot n % size; null until first used
    // The filter's working frames, the copies of input frames that will be
    // its ycp_edit, and frames waiting to be written: made when a buffer is
    // wanted and none is free, up to pool_limit_ (under mu_).
    std::vector<FrameBuffer> pool_;
    size_t pool_limit_;
    // With threads, the reader copies each frame it decodes into a buffer of
    // the pool, ready as the frame's ycp_edit: edit_of_[n % ring size].
    std::vector<PIXEL_YC*> edit_of_;
    // What the filter sees while it works on frame current_: frames read so
    // far and whether the input has ended, as a reader that had read just
    // through current_ + 2 would know them, however far the reader has got.
    long loaded_ = 0;
    bool ended_ = false;
    long current_ = 0;   // frame being processed
    RunStats stats_;

    // Shared between the threads, under mu_.
    std::mutex mu_;
    std::condition_variable cv_;
    long read_ = 0;            // frames decoded into the ring
    bool read_end_ = false;    // the input has no more frames
    bool read_failed_ = false; // ... or reading frame read_ failed: read_error_
    bool reader_done_ = false;
    bool stop_ = false;        // the reader is to stop
    long released_ = 0;        // frames below this one are not read by the filter again
    std::string read_error_;
    std::vector<PIXEL_YC*> free_;       // pool buffers not in use
    std::deque<OutputItem> queue_;      // filtered frames waiting for the writer
    bool queue_closed_ = false;
    bool write_failed_ = false;
    std::string write_error_;
};

}  // namespace pelta_cli
