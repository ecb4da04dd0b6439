#include "stream/link_pace.h"

#include <algorithm>

namespace hdext::stream {

namespace {
constexpr int64_t kSampleEveryUs = 100000; // take-rate samples, a dozen cover a second
constexpr int64_t kRateSpanUs = 1000000;
// While no IDR has come after a drop (the request met a stopped encoder, or its pacing), ask
// again this often.
constexpr int64_t kIdrRetryUs = 500000;
constexpr int64_t kFigureEveryUs = 100000;
} // namespace

LinkPace::LinkPace(int64_t budget_us, int64_t now_us) : m_budget(budget_us) {
    m_samples[0] = {now_us, 0, 0};
    m_sampleNext = m_sampleCount = 1;
}

void LinkPace::Look(int64_t now_us, const SocketLook& s) {
    // Positions count from the connection's first byte: written = acknowledged + in the queue.
    const uint64_t sent = s.acked + s.queued - std::min<uint64_t>(s.unsent, s.queued);
    while (m_count > 0 && m_ring[m_first].end <= sent) {
        m_first = (m_first + 1) % kRing;
        --m_count;
    }
    m_deliveryBps = s.delivery_bps;
    const Sample& last = m_samples[(m_sampleNext + kSamples - 1) % kSamples];
    if (now_us - last.at >= kSampleEveryUs) {
        m_samples[m_sampleNext] = {now_us, s.acked, m_audioBytes};
        m_sampleNext = (m_sampleNext + 1) % kSamples;
        m_sampleCount = std::min(m_sampleCount + 1, kSamples);
    }
}

void LinkPace::Wrote(uint64_t taken_us, const SocketLook& s) {
    if (m_count == kRing) { // more pictures in a socket than a bounded one holds: forget the oldest
        m_first = (m_first + 1) % kRing;
        --m_count;
    }
    m_ring[(m_first + m_count) % kRing] = {s.acked + s.queued, taken_us};
    ++m_count;
}

uint64_t LinkPace::SocketOldest() const {
    for (size_t i = 0; i < m_count; ++i)
        if (const uint64_t t = m_ring[(m_first + i) % kRing].taken) return t;
    return 0;
}

int64_t LinkPace::Wait(int64_t now_us, uint64_t list_first_us) const {
    int64_t age = 0;
    for (const uint64_t t : {list_first_us, SocketOldest()})
        if (t) age = std::max(age, now_us - static_cast<int64_t>(t));
    return age;
}

bool LinkPace::Late(int64_t now_us, uint64_t list_first_us) const {
    if (list_first_us && now_us - static_cast<int64_t>(list_first_us) > m_budget) return true;
    for (size_t i = 0; i < m_count; ++i) {
        const uint64_t t = m_ring[(m_first + i) % kRing].taken;
        if (t > m_forgiven) return now_us - static_cast<int64_t>(t) > m_budget;
    }
    return false;
}

void LinkPace::Dropped(int pictures, int64_t now_us) {
    m_lateDrops += static_cast<uint32_t>(std::max(pictures, 0));
    // What the socket holds now cannot be taken back; judging it again would only throw away
    // the IDR queued behind it.
    if (m_count > 0) m_forgiven = std::max(m_forgiven, m_ring[(m_first + m_count - 1) % kRing].taken);
    if (!m_awaitIdr) m_idrDue = now_us;
    m_awaitIdr = true;
}

bool LinkPace::Admit(bool idr) {
    if (!m_awaitIdr) return true;
    if (idr) {
        m_awaitIdr = false;
        return true;
    }
    ++m_lateDrops;
    return false;
}

bool LinkPace::WantIdr(int64_t now_us) {
    if (!m_awaitIdr || now_us < m_idrDue) return false;
    m_idrDue = now_us + kIdrRetryUs;
    return true;
}

bool LinkPace::FigureDue(int64_t now_us) {
    if (now_us < m_figureDue) return false;
    m_figureDue = now_us + kFigureEveryUs;
    return true;
}

int64_t LinkPace::TakeBps() const {
    const Sample& last = m_samples[(m_sampleNext + kSamples - 1) % kSamples];
    // The oldest sample within the span (one is always kept: the newest).
    for (size_t back = m_sampleCount; back > 1; --back) {
        const Sample& s = m_samples[(m_sampleNext + kSamples - back) % kSamples];
        if (last.at - s.at > kRateSpanUs) continue;
        return static_cast<int64_t>(last.acked - s.acked) * 1000000 / (last.at - s.at);
    }
    return 0;
}

int64_t LinkPace::VideoCapacityBps() const {
    if (m_deliveryBps == 0) return 0;
    int64_t audio = 0;
    const Sample& last = m_samples[(m_sampleNext + kSamples - 1) % kSamples];
    if (m_sampleCount > 1) {
        const Sample& first = m_samples[(m_sampleNext + kSamples - m_sampleCount) % kSamples];
        if (last.at > first.at) audio = static_cast<int64_t>(last.audio - first.audio) * 1000000 / (last.at - first.at);
    }
    // Never 0 when known: a link that carries only the audio still says so.
    return std::max<int64_t>(static_cast<int64_t>(m_deliveryBps) - audio, 1);
}

} // namespace hdext::stream
