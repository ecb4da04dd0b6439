// The HDMI output's per-picture timeline: one line "<shown_us> <frame_no> <latency_us>" per
// stamped picture shown (CLOCK_MONOTONIC microseconds, the capture stamp's frame number, glass
// to glass), for tools that plot or judge every picture rather than a percentile. Lines are kept
// in memory and appended in batches; the file moves to "<path>.1" once it passes a line count,
// so the two files stay bounded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace hdext::sim {

class Timeline {
  public:
    static constexpr size_t kRotateLines = 65536;
    static constexpr uint64_t kBatchUs = 250000;

    explicit Timeline(std::string path, size_t rotate_lines = kRotateLines, uint64_t batch_us = kBatchUs);
    ~Timeline(); // writes what is kept
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;

    // One picture. Writes the batch once its first line is batch_us older than this one.
    // Not thread-safe: the output's thread, under its lock.
    void add(uint64_t shown_us, int64_t frame_no, uint64_t latency_us);
    // Appends what is kept (rotating when the file has passed its line count).
    void flush();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    size_t rotate_lines_;
    uint64_t batch_us_;
    std::string batch_;
    size_t batch_lines_ = 0;
    uint64_t batch_from_us_ = 0;
    int fd_ = -1;
    size_t file_lines_ = 0;
};

} // namespace hdext::sim
