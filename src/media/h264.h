// What the stream's own logic needs to know of an H.264 access unit (Annex B byte stream):
// whether a receiver can start decoding at it.
#pragma once
#include <cstddef>
#include <cstdint>

struct frame_buff;

namespace hdext::media {

// True when the access unit's first picture slice is an IDR slice (NAL type 5). Looks at the
// NAL headers up to that slice only (parameter sets and SEI come first). Any thread.
bool h264_is_idr(const uint8_t* data, size_t len);
// The same for a frame record: its first chunk holds the start of the access unit.
bool frame_is_idr(const frame_buff* frame);

} // namespace hdext::media
