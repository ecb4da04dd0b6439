// Shared pieces of the re-stream tests: an own network namespace for the process, H.264 access
// units from the software encoder, a paced feeder for the re-stream lists, and client commands.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "core/frame.h"
#include "support/h264_units.h"

namespace rtsp_test {

// Pools and a private network namespace with loopback up (also holding the re-stream's own
// address), once per process. Fails the calling test when not root.
void env();

using hdext::test::encode_h264;

// Queues one frame (video or audio kind) at the tail of list.
void put_frame(frame_buff_head* list, const uint8_t* data, size_t size, bool audio, uint64_t pts);

// Feeds the lists at the stream's pace until destroyed: access units at fps (looped) and,
// when audio is on, 1024-byte A-law frames every 1024 samples at 44100 Hz.
class Feeder {
public:
    Feeder(frame_buff_head* video, frame_buff_head* audio, std::vector<std::vector<uint8_t>> units, int fps);
    ~Feeder();

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Runs a shell command (with a time-out guard) and returns its standard output; status set.
std::string run(const std::string& cmd, int* status = nullptr);

// A free TCP port on loopback.
int free_port();

// A TCP connection to ip:port: the descriptor, or -1 when refused.
int dial(const char* ip, int port);
// True once the server has closed the connection (a hang guard of 30 s); closes fd.
bool closed_by_server(int fd);

} // namespace rtsp_test
