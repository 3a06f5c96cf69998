// Weaving candidate frames from the fields of two input frames, and putting
// the partner frame's field into the current frame.
#pragma once

#include "abi/controls.h"

namespace pelta {

// Results of weave_match.
enum WeaveResult {
    WEAVE_OK = 0,
    WEAVE_BAD_INDEX = 1,      // n is not a valid match index; nothing fetched
    WEAVE_FRAME_MISSING = 2,  // the host supplied no image for n-1 or n
};

// Weave parity: the parity of the rows that the candidate of match index n
// takes from frame n-1 (and that frame f replaces from its partner).
inline int weave_parity(const FILTER* fp, int n) { return (fp->check[CHECK_TFF] ^ n) & 1; }

// Partner of frame f in its pair {2k, 2k+1}.
inline int partner_frame(int f) { return (f & 1) ? f - 1 : f + 1; }

// Fetches the two frames of match index n from the host: frame n-1, then
// frame n, both asked for before either answer is tested. Returns a
// WeaveResult; on WEAVE_OK *earlier and *later hold the two frames.
int fetch_match_frames(FILTER* fp, FILTER_PROC_INFO* fpip, int n, const PIXEL_YC** earlier,
                       const PIXEL_YC** later);

// Weaves the candidate of match index n (frames n-1 and n) into dst: rows of
// parity p(n) from frame n-1, the others from frame n, whole rows of max_w
// pixels. Returns a WeaveResult.
int weave_match(PIXEL_YC* dst, FILTER* fp, FILTER_PROC_INFO* fpip, int n);

// Overwrites the rows of parity p(frame) of ycp_edit with the same rows of the
// partner frame. Returns 0, or 1 when the host supplies no partner frame
// (nothing written).
int replace_partner_field(FILTER* fp, FILTER_PROC_INFO* fpip);

}  // namespace pelta
