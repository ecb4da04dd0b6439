// The build without re-streaming: the check thread ends at once and RtmpEn stays 0.
#include "rtsp/rtsp_entry.h"

void* rtsp_check(void*) { return nullptr; }
