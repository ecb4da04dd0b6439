#include "media/h264.h"

#include "core/frame.h"

namespace hdext::media {

bool h264_is_idr(const uint8_t* data, size_t len) {
    for (size_t i = 0; data && i + 3 < len; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        const int type = data[i + 3] & 0x1F;
        if (type == 5) return true;
        if (type >= 1 && type <= 4) return false; // a non-IDR picture slice or its partitions
        i += 2;
    }
    return false;
}

bool frame_is_idr(const frame_buff* frame) { return frame && h264_is_idr(frame->rd, frame->len); }

} // namespace hdext::media
