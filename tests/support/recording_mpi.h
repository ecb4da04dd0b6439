// A recording media platform for wrapper and facade tests: every platform call is logged with
// its integer arguments and a copy of the record it was given; results can be set per call name;
// "get" calls hand back the last record of their type that went in (or one a test planted).
// Calls may come from several threads; tests read the log from one thread.
#pragma once
#include "mpi/mpi.h"
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <typeindex>
#include <vector>

namespace hdext::test {

struct MpiCall {
    std::string name;
    std::vector<long long> args;
    std::vector<uint8_t> record; // the record passed (in or out), if any
    template <class T> T as() const {
        T v{};
        std::memcpy(&v, record.data(), std::min(sizeof(T), record.size()));
        return v;
    }
};

class RecordingMpi {
  public:
    static RecordingMpi& get();

    void reset();
    std::vector<MpiCall> calls;
    std::map<std::string, int> results;                   // result of a call by name (default 0)
    std::map<std::type_index, std::vector<uint8_t>> last; // last record of each type

    // Plants the record that the next "get" call of this type returns.
    template <class T> void plant(const T& v) {
        std::lock_guard<std::recursive_mutex> g(mu);
        last[typeid(T)] = std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(&v),
                                               reinterpret_cast<const uint8_t*>(&v) + sizeof(T));
    }
    // Names of the calls so far, in order.
    std::vector<std::string> names() const;
    // Names of the calls whose name starts with prefix.
    std::vector<std::string> names(const std::string& prefix) const;
    // The n-th call of that name (0 = first); fails the test when missing.
    const MpiCall& find(const std::string& name, int n = 0) const;
    int count(const std::string& name) const;

    // Run by ss_mpi_venc_get_stream before it hands a picture out, on the caller's thread,
    // without the log lock: a test may hold a read-out there. Set it while no thread reads.
    std::function<void()> during_get_stream;

    // Packs the next ss_mpi_venc_get_stream hands out.
    std::vector<ot_venc_pack> packs;

    // Descriptor-driven hand-out, as tasks that wait on descriptors see it: once enabled, the
    // encoder's and the audio input's get_fd calls return pipes that are readable while a
    // queued picture or PCM frame waits; query_status, get_stream and get_frame hand them out
    // in order.
    void use_descriptors();
    bool descriptors() const { return venc_pipe_[0] >= 0; }
    // One encoded picture in one pack; its bytes stay valid until the next one is taken.
    void queue_picture(std::vector<uint8_t> bytes, uint64_t pts);
    void queue_pcm(std::vector<int16_t> samples, uint64_t stamp, uint32_t seq);
    void renew_venc_fd(); // the encoder recreated: a new descriptor, the old one closed
    void renew_ai_fd();
    bool renew_ai_fd_on_enable = false; // an input enabled again gets a new descriptor
    int venc_fd();
    int ai_fd();
    uint32_t pictures_waiting();
    bool take_picture(ot_venc_pack* pack);
    bool take_pcm(ot_audio_frame* frame);

    int log(const char* name, std::vector<long long> args);
    template <class T> int log_in(const char* name, std::vector<long long> args, const T* rec) {
        std::lock_guard<std::recursive_mutex> g(mu);
        MpiCall c{name, std::move(args), {}};
        if (rec) {
            c.record.assign(reinterpret_cast<const uint8_t*>(rec),
                            reinterpret_cast<const uint8_t*>(rec) + sizeof(T));
            last[typeid(T)] = c.record;
        }
        calls.push_back(std::move(c));
        return result(name);
    }
    template <class T> int log_out(const char* name, std::vector<long long> args, T* rec) {
        std::lock_guard<std::recursive_mutex> g(mu);
        if (rec) {
            *rec = T{};
            auto it = last.find(typeid(T));
            if (it != last.end())
                std::memcpy(rec, it->second.data(), std::min(sizeof(T), it->second.size()));
        }
        MpiCall c{name, std::move(args), {}};
        if (rec)
            c.record.assign(reinterpret_cast<const uint8_t*>(rec),
                            reinterpret_cast<const uint8_t*>(rec) + sizeof(T));
        calls.push_back(std::move(c));
        return result(name);
    }

    mutable std::recursive_mutex mu;

  private:
    struct Pcm {
        std::vector<int16_t> samples;
        uint64_t stamp;
        uint32_t seq;
    };
    int result(const char* name) const;
    void close_descriptors();
    int venc_pipe_[2] = {-1, -1};
    int ai_pipe_[2] = {-1, -1};
    std::deque<std::vector<uint8_t>> pictures_;
    std::deque<uint64_t> picture_pts_;
    std::deque<Pcm> pcm_;
    std::vector<uint8_t> picture_out_;
    Pcm pcm_out_;
};

inline RecordingMpi& rec() {
    return RecordingMpi::get();
}

} // namespace hdext::test
