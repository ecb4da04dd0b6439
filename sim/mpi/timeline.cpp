#include "sim/mpi/timeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace hdext::sim {
namespace {

constexpr size_t kLineMax = 64;

// Lines already in a file this process goes on appending to (a restarted program).
size_t count_lines(int fd) {
    size_t n = 0;
    char buf[65536];
    for (ssize_t got; (got = read(fd, buf, sizeof buf)) > 0;)
        n += static_cast<size_t>(std::count(buf, buf + got, '\n'));
    return n;
}

} // namespace

Timeline::Timeline(std::string path, size_t rotate_lines, uint64_t batch_us)
    : path_(std::move(path)), rotate_lines_(rotate_lines), batch_us_(batch_us) {
    batch_.reserve(kLineMax * 64);
}

Timeline::~Timeline() {
    flush();
    if (fd_ >= 0)
        close(fd_);
}

void Timeline::add(uint64_t shown_us, int64_t frame_no, uint64_t latency_us) {
    char line[kLineMax];
    char* p = line;
    char* const end = line + sizeof line - 1; // room for each number's separator
    auto put = [&](auto value, char separator) {
        const auto r = std::to_chars(p, end, value);
        if (r.ec != std::errc{})
            return false;
        p = r.ptr;
        *p++ = separator;
        return true;
    };
    if (!put(shown_us, ' ') || !put(frame_no, ' ') || !put(latency_us, '\n'))
        return; // three 64-bit numbers always fit
    if (batch_lines_ == 0)
        batch_from_us_ = shown_us;
    batch_.append(line, static_cast<size_t>(p - line));
    ++batch_lines_;
    if (shown_us - batch_from_us_ >= batch_us_ || shown_us < batch_from_us_)
        flush();
}

void Timeline::flush() {
    if (batch_.empty())
        return;
    if (fd_ < 0) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
        fd_ = open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        file_lines_ = fd_ >= 0 ? count_lines(fd_) : 0;
    }
    // A board that is gone loses the batch rather than keeping it without bound.
    for (size_t done = 0; fd_ >= 0 && done < batch_.size();) {
        const ssize_t n = write(fd_, batch_.data() + done, batch_.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    file_lines_ += batch_lines_;
    batch_.clear();
    batch_lines_ = 0;
    if (fd_ >= 0 && file_lines_ >= rotate_lines_) {
        close(fd_);
        fd_ = -1;
        std::rename(path_.c_str(), (path_ + ".1").c_str());
    }
}

} // namespace hdext::sim
