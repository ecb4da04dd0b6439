// The two decode threads (video feeding, audio decoding): started detached, at most one of
// each kind at a time, and stoppable for tests through stop_decode_threads().
#pragma once
#include <atomic>

namespace hdext::decode {

enum DecodeThreadKind { kVideoThread = 0, kAudioThread = 1 };

// Starts fn(arg) detached unless a thread of that kind already runs (then 0 as well).
// Returns 0 or pthread_create's code.
int start_decode_thread(void* (*fn)(void*), void* arg, DecodeThreadKind kind);
// Polled by the thread loops: true once stop_decode_threads() asked them to return.
bool decode_stopping();
// Called by a thread of that kind as its last act.
void decode_thread_done(DecodeThreadKind kind);

} // namespace hdext::decode
