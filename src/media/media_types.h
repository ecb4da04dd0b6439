// Records the media facade's callers hand in.
#pragma once
#include <cstdint>

// One whole compressed picture for a decoder channel.
struct _MEDIA_FRAME_COMM_INFO {
    uint8_t* data;
    uint32_t len;
    uint64_t pts;
};
