#include "recording_mpi.h"
#include <gtest/gtest.h>

namespace hdext::test {

RecordingMpi& RecordingMpi::get() {
    static RecordingMpi r;
    return r;
}

void RecordingMpi::reset() {
    std::lock_guard<std::recursive_mutex> g(mu);
    close_descriptors();
    renew_ai_fd_on_enable = false;
    calls.clear();
    results.clear();
    last.clear();
    packs.clear();
}

std::vector<std::string> RecordingMpi::names() const {
    std::lock_guard<std::recursive_mutex> g(mu);
    std::vector<std::string> n;
    for (const auto& c : calls)
        n.push_back(c.name);
    return n;
}

std::vector<std::string> RecordingMpi::names(const std::string& prefix) const {
    std::lock_guard<std::recursive_mutex> g(mu);
    std::vector<std::string> n;
    for (const auto& c : calls)
        if (c.name.rfind(prefix, 0) == 0)
            n.push_back(c.name);
    return n;
}

const MpiCall& RecordingMpi::find(const std::string& name, int n) const {
    std::lock_guard<std::recursive_mutex> g(mu);
    for (const auto& c : calls)
        if (c.name == name && n-- == 0)
            return c;
    ADD_FAILURE() << "no call " << name;
    static const MpiCall none{};
    return none;
}

int RecordingMpi::count(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> g(mu);
    int n = 0;
    for (const auto& c : calls)
        n += c.name == name;
    return n;
}

int RecordingMpi::log(const char* name, std::vector<long long> args) {
    std::lock_guard<std::recursive_mutex> g(mu);
    calls.push_back(MpiCall{name, std::move(args), {}});
    return result(name);
}

int RecordingMpi::result(const char* name) const {
    std::lock_guard<std::recursive_mutex> g(mu);
    auto it = results.find(name);
    return it == results.end() ? 0 : it->second;
}

} // namespace hdext::test

using hdext::test::rec;

int ss_mpi_mipi_open(const char* dev_path) {
    hdext::test::MpiCall c{"ss_mpi_mipi_open", {}, {}};
    c.record.assign(dev_path, dev_path + std::strlen(dev_path));
    std::lock_guard<std::recursive_mutex> g(rec().mu);
    rec().calls.push_back(std::move(c));
    auto it = rec().results.find("ss_mpi_mipi_open");
    return it == rec().results.end() ? 7 : it->second;
}

int ss_mpi_venc_get_stream(int chn, ot_venc_stream* stream, int timeout_ms) {
    if (rec().during_get_stream) rec().during_get_stream();
    std::lock_guard<std::recursive_mutex> g(rec().mu);
    rec().log("ss_mpi_venc_get_stream", {chn, timeout_ms});
    auto it = rec().results.find("ss_mpi_venc_get_stream");
    if (it != rec().results.end() && it->second != 0)
        return it->second;
    if (rec().descriptors()) {
        stream->pack_cnt = stream->pack_cnt > 0 && rec().take_picture(&stream->pack[0]) ? 1 : 0;
        return 0;
    }
    const size_t n = std::min<size_t>(stream->pack_cnt, rec().packs.size());
    for (size_t i = 0; i < n; ++i)
        stream->pack[i] = rec().packs[i];
    stream->pack_cnt = static_cast<uint32_t>(n);
    return 0;
}
