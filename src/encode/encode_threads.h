// The worker threads that Quendor_Start_enVideo_Task / Quendor_Start_enAudio_Task start. On a
// unit they run for the life of the process; a test process ends them before it exits, so
// nothing still runs while the process tears down.
#pragma once
#include <atomic>

namespace hdext {

// Set while the threads are asked to end. Read by the thread loops.
const std::atomic<bool>& encode_threads_stop_flag();
// Thread bookkeeping for the entry functions: call on entry and on leaving.
void encode_thread_started();
void encode_thread_ended();
// Asks every encode thread to end and waits until they have (at most one descriptor wait
// of the video thread). Later starts run normally again. Any thread but an encode thread.
void stop_encode_threads();

} // namespace hdext
