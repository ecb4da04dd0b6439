// The video feeding loop, one pass at a time: DecodeVidecStreamEntry runs Step() forever; tests
// and benchmarks drive it directly. Feeding thread only.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>

#include "decode/late_policy.h"

class CMediaDecoder;

class CVideoFeeder {
public:
    explicit CVideoFeeder(CMediaDecoder* dec);
    ~CVideoFeeder();
    CVideoFeeder(const CVideoFeeder&) = delete;
    CVideoFeeder& operator=(const CVideoFeeder&) = delete;

    // Takes one frame from the decode list and acts on it; on an empty list sleeps one idle
    // poll and counts it. True when a frame was taken.
    bool Step();
    int IdlePolls() const { return m_idle; }

private:
    bool Live(struct frame_buff* frame);
    void Feed(struct frame_buff* frame);

    CMediaDecoder* m_dec;
    std::unique_ptr<uint8_t[]> m_buf; // reassembly of chained frames
    int m_idle = 0;
    bool m_restarting = false; // waiting for the video this thread asked back
    std::chrono::steady_clock::time_point m_restartUntil;
    hdext::decode::LatePolicy m_late;
    uint64_t m_lateCounted = 0;
};
