// Change notifications and status queries of the TX's video receiver chips.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace hdext::board {

// The HDMI receiver's input-change notification. On a unit the driver of "/dev/lt6911"
// raises SIGIO; on a simulated board each byte written to the dev/lt6911 FIFO is one
// notification. Either way the owner's thread picks them up with wait(), never in signal
// context. One waiting thread per notifier.
class ChangeNotifier {
public:
    virtual ~ChangeNotifier() = default;
    // Blocks up to timeout_ms. Returns the number of notifications that arrived (>= 1),
    // 0 on time-out, -1 on an error of the underlying device.
    virtual int wait(int timeout_ms) = 0;
};

// Opens the notifier of the device at `dev_path` (a board path, e.g. "/dev/lt6911"): the
// SIGIO backend on a unit, the FIFO backend on a simulated board. Null when the device
// cannot be opened (errno set).
std::unique_ptr<ChangeNotifier> open_change_notifier(const char* dev_path);

// Backends, for tests. The FIFO backend reads one notification per byte of `fifo_path`.
std::unique_ptr<ChangeNotifier> open_fifo_notifier(const std::string& fifo_path);
std::unique_ptr<ChangeNotifier> open_sigio_notifier(const std::string& dev_path);

// The SDI receiver's status word: on a unit a read request written to "/proc/gs2971" and
// the hexadecimal lines it answers (the last line counts); on a simulated board the format
// in sim/sdi-in ("none" or a hex code), answered the way the driver would (code << 8, no
// signal = 0x1D << 8). Returns true and the word, or false when nothing could be read.
// Blocking file I/O; any thread.
bool sdi_query(uint32_t* word);

// Parses the driver's answer: the last line holding a hexadecimal number wins.
bool parse_sdi_answer(const std::string& text, uint32_t* word);

} // namespace hdext::board
