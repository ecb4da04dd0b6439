// Pace of the decode threads and a way to end them. A unit keeps the defaults and never stops
// them; tests and benchmarks shorten the waits and stop the threads before tearing down.
#pragma once
#include <chrono>

#include "decode/late_policy.h"

namespace hdext::decode {

struct DecodeTiming {
    int idle_polls = 401;                          // empty polls before "no signal"
    std::chrono::microseconds idle_sleep{1000};    // between two empty polls
    std::chrono::milliseconds reopen_pause{1000};  // after the audio outputs re-open
    std::chrono::milliseconds restart_wait{1000};  // frames wait this long for video back
};

// Set before the threads start. Main thread.
void set_decode_timing(const DecodeTiming& t);
const DecodeTiming& decode_timing();
// What is too late to show or play. Set before the threads start; tests widen it.
void set_late_budgets(const LateBudgets& b);
const LateBudgets& late_budgets();

// Asks both decode threads to return and waits until they have; later starts run again.
void stop_decode_threads();

} // namespace hdext::decode
