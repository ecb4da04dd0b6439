// Where a picture's time goes, stage by stage, for the simulated output's report. The software
// encoder puts the TX's stamps into each access unit as an SEI message of its own (unregistered
// user data, which decoders skip), so they reach the RX inside the H.264 bytes and the stream
// between the units stays as it is; the RX's decoder reads them back and adds its own.
// Stamps are CLOCK_MONOTONIC microseconds, shared by every unit on one host.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace hdext::sim {

struct StageStamps {
    uint64_t captured = 0; // capture stamped the picture
    uint64_t encoded = 0;  // the encoder put out its access unit
    uint64_t sent = 0;     // the TX program took it from the encoder to send it
    uint64_t received = 0; // the RX program handed it to the decoder
    uint64_t decoded = 0;  // the decoder put out the picture
};

// The stages between two stamps, and the output's own last one (decoded to shown).
inline constexpr int kStages = 5;
inline constexpr const char* kStageNames[kStages] = {"encode", "send", "transfer", "decode",
                                                     "show"};

// The SEI NAL unit, start code included, carrying `captured` and `encoded` (sent still 0).
std::vector<uint8_t> stage_sei(uint64_t captured, uint64_t encoded);
// Offset of that NAL unit in an access unit, if there is one.
std::optional<size_t> find_stage_sei(const uint8_t* au, size_t len);
// Writes `sent` into the SEI at `at` (in place; the length stays).
void stamp_sent(uint8_t* au, size_t at, uint64_t sent);
// The TX's stamps of an access unit (received and decoded 0), if it carries the SEI.
std::optional<StageStamps> read_stage_sei(const uint8_t* au, size_t len);

} // namespace hdext::sim
