// Placeholder until the stream sender and receiver land.
#include "stream/stream_entry.h"

int CreateSender() { return 0; }
int CreateReceiver() { return 0; }
