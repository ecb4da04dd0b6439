// Placeholder until the re-stream service lands; both builds return at once for now.
#include "rtsp/rtsp_entry.h"

void* rtsp_check(void*) { return nullptr; }
