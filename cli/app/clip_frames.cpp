#include "app/clip_frames.h"

#include "convert/convert.h"

namespace pelta_cli {

void ClipFormat::unpack(const uint8_t* payload_bytes, PIXEL_YC* dst, int stride) const {
    if (raw)
        unpack_raw_frame(payload_bytes, w, h, dst, stride);
    else
        planes_to_yc(payload_bytes, y4m.chroma, w, h, dst, stride, y4m.depth);
}

}  // namespace pelta_cli
