// A simulated RX for the decode tests: a board root with the status pictures, a fresh media
// facade on the software platform, the decode task objects, and helpers that encode pictures
// with the platform's own H.264 encoder and hand them to the decode lists.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/frame.h"
#include "core/mempool.h"
#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "support/board_root.h"
#include "support/platform_pictures.h"
#include "support/wait.h"

namespace hdext::test {

// Pools, messages, handlers, tasks and the timer, once per process.
void decode_core_env();
// The RX's count of pictures dropped for lateness, as its display figures show it.
uint64_t late_drops_figure();

inline std::vector<std::vector<uint8_t>> encode_pictures(int w, int h, int count, uint32_t first_no = 0) {
    return platform_pictures(OT_PT_H264, w, h, count, first_no);
}

// A video frame (kind video, the given stamp) holding bytes; the caller frees it.
frame_buff* make_video_frame(const std::vector<uint8_t>& bytes, uint64_t pts);
// An audio frame of A-law bytes; the caller frees it.
frame_buff* make_audio_frame(const std::vector<uint8_t>& alaw, uint64_t pts);
// A-law of a 1 kHz tone at 48000 Hz, `samples` long.
std::vector<uint8_t> alaw_tone(size_t samples);

// Same records in use (the pools grow by chunks on demand).
inline bool same(const MEMPOOL_STATS& a, const MEMPOOL_STATS& b) {
    return a.used == b.used;
}

// The checksum the simulated HDMI output reports for a picture, computed from a JPEG file.
uint32_t jpeg_checksum(const std::string& path);

// Standard output of the whole process, redirected to a file while the object lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string text(); // flushes first
private:
    int m_saved = -1;
    std::string m_path;
};

class DecodeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Start-up of both decode tasks with the stored network name; waits for the start-up
    // picture message to be handled.
    void init_tasks(const char* ssid);
    // Live video on the first connection to a TX (the feeding thread starts).
    void start_video();
    // Sends a message to task 0x7000 and waits until its handler has finished it.
    void send_and_wait(unsigned msg_id, int param);
    // Key=value of the HDMI output's status file ("" when missing).
    std::string out_status(const std::string& key);
    std::vector<std::string> gpio_writes();
    // The live format the TX reports.
    void set_format(int sync, int w, int h, int rate, int audio);

    std::unique_ptr<TempBoardRoot> board;
    std::string root;
    bool started_video = false;
};

} // namespace hdext::test
