// "hdext-board world report": watches a running kit until every receiver shows video, then for a
// window of seconds, and reports per unit what a person cares about: time to link and to the
// first picture, frames shown against frames captured, gaps, glass-to-glass latency with its
// stages, CPU share and memory; as a table on stdout and as report.html with the pictures; and
// per RX a timeline of the window (glass to glass of every picture, drops, the TX's bit rate):
// its figures on stdout, its plot as <unit>-timeline.svg beside report.html and inside it.
#pragma once
#include <string>

namespace hdext::sim {

struct ReportOptions {
    double seconds = 20;    // the window, counted from the moment every receiver shows video
    double deadline = 120;  // how long a receiver may take to show video before it has failed
    std::string out_dir;    // report.html and the pictures; none written when empty
};

// Prints progress once a second while it waits and streams, then the table. 0 when every
// receiver linked and showed video and every program ran to the end, 1 otherwise.
int world_report(const std::string& world_dir, const ReportOptions& opt);

} // namespace hdext::sim
