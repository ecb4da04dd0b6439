#include "stream/link_pace.h"

#include <algorithm>

namespace hdext::stream {

namespace {
constexpr int64_t kSampleEveryUs = 100000; // take-rate samples, a dozen cover a second
// What a link carried lately: short enough to follow a dip within a few looks, long enough to
// span several pictures.
constexpr int64_t kRecentUs = 500000;
// While no IDR has come after a drop (the request met a stopped encoder, or its pacing), ask
// again this often.
constexpr int64_t kIdrRetryUs = 500000;
constexpr int64_t kFigureEveryUs = 100000;
} // namespace

LinkPace::LinkPace(int64_t budget_us, int64_t now_us) : m_budget(budget_us) {
    m_samples[0] = {now_us, 0, 0};
    m_sampleNext = m_sampleCount = 1;
}

bool LinkPace::NeedsLook(int64_t now_us) const {
    return m_count > 0 || now_us - m_samples[(m_sampleNext + kSamples - 1) % kSamples].at >= kSampleEveryUs;
}

void LinkPace::Look(int64_t now_us, const SocketLook& s) {
    // Positions count from the connection's first byte: written = acknowledged + in the queue.
    const uint64_t written = s.acked + s.queued;
    if (m_count > 0) {
        Written& last = m_ring[(m_first + m_count - 1) % kRing];
        if (last.end == kUnplaced) last.end = written - std::min(m_audioSinceWrote, written);
    }
    const uint64_t sent = s.stalled ? s.acked : s.acked + s.queued - std::min<uint64_t>(s.unsent, s.queued);
    while (m_count > 0 && m_ring[m_first].end <= sent) {
        m_first = (m_first + 1) % kRing;
        --m_count;
    }
    const Sample& last = m_samples[(m_sampleNext + kSamples - 1) % kSamples];
    if (now_us - last.at >= kSampleEveryUs) {
        m_samples[m_sampleNext] = {now_us, s.acked, m_audioBytes};
        m_sampleNext = (m_sampleNext + 1) % kSamples;
        m_sampleCount = std::min(m_sampleCount + 1, kSamples);
    }
}

void LinkPace::Wrote(uint64_t taken_us) {
    if (m_count == kRing) { // more pictures in a socket than a bounded one holds: forget the oldest
        m_first = (m_first + 1) % kRing;
        --m_count;
    }
    m_ring[(m_first + m_count) % kRing] = {kUnplaced, taken_us};
    ++m_count;
    m_audioSinceWrote = 0;
}

void LinkPace::WroteAudio(uint32_t bytes) {
    m_audioBytes += bytes;
    m_audioSinceWrote += bytes;
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

int64_t LinkPace::Rate(uint64_t Sample::*counter, int64_t span_us) const {
    const Sample& last = m_samples[(m_sampleNext + kSamples - 1) % kSamples];
    // From the oldest sample within the span to the newest.
    for (size_t back = m_sampleCount; back > 1; --back) {
        const Sample& s = m_samples[(m_sampleNext + kSamples - back) % kSamples];
        if (last.at - s.at > span_us) continue;
        return static_cast<int64_t>(last.*counter - s.*counter) * 1000000 / (last.at - s.at);
    }
    return 0;
}

int64_t LinkPace::VideoTakeBps() const {
    const int64_t all = Rate(&Sample::acked, kRecentUs);
    if (all == 0) return 0;
    // Never 0 once known: a link that carries only the audio still says so.
    return std::max<int64_t>(all - Rate(&Sample::audio, kSecondUs), 1);
}

} // namespace hdext::stream
