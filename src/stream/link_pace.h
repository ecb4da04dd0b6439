// How late one receiver is, and what its sending thread does about it. A picture's age counts
// from the moment the TX took it from its encoder; what waits for a receiver is what its list
// holds and what its socket has not sent yet. When the oldest of that has waited longer than the
// budget, the queued video goes and the receiver resumes at the next IDR: a frozen picture is
// better than a late one. Decisions only: times and what the kernel holds come in as arguments,
// so the class runs on a fake clock; one per stream connection, used by its sending thread alone.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace hdext::stream {

// What the kernel holds for a stream socket.
struct SocketLook {
    uint64_t acked = 0;        // bytes the receiver acknowledged since the connection began
    uint32_t queued = 0;       // written and not yet acknowledged
    uint32_t unsent = 0;       // of those, not sent yet
    // A sent segment was lost and not yet retransmitted with success: the receiver gets nothing
    // after it (the stream is in order), so all that is not acknowledged still waits.
    bool stalled = false;
};

class LinkPace {
public:
    LinkPace(int64_t budget_us, int64_t now_us);

    // True when Look needs the socket now (pictures in it, or a rate sample due): an idle
    // connection costs no calls into the kernel.
    bool NeedsLook(int64_t now_us) const;
    // The socket at now: places the picture written last, forgets the pictures it has
    // delivered whole, samples what it took.
    void Look(int64_t now_us, const SocketLook& s);
    // A picture taken at taken_us is written whole (its place in the socket is taken at the
    // next look).
    void Wrote(uint64_t taken_us);
    // Bytes of an audio packet written.
    void WroteAudio(uint32_t bytes);

    // Age of the oldest picture waiting: the first in the list (taken at list_first_us, 0 for
    // an empty list) or the oldest the socket has not sent.
    int64_t Wait(int64_t now_us, uint64_t list_first_us) const;
    // True when the queued video must go: a picture waited longer than the budget (pictures
    // already in the socket when the last drop was decided are not counted twice).
    bool Late(int64_t now_us, uint64_t list_first_us) const;
    // The caller dropped `pictures` queued ones: from now on only an IDR resumes the stream.
    void Dropped(int pictures, int64_t now_us);
    // One picture taken from the list: true to send it, false to drop it (not an IDR while the
    // stream waits for one).
    bool Admit(bool idr);
    // True when the encoder should be asked for an IDR now (at a drop, then again now and then
    // while none has come).
    bool WantIdr(int64_t now_us);
    // True at most every figure period.
    bool FigureDue(int64_t now_us);

    int64_t Budget() const { return m_budget; }
    bool AwaitingIdr() const { return m_awaitIdr; }
    uint32_t LateDrops() const { return m_lateDrops; }
    // Taken stamp of the oldest picture the socket has not sent, 0 when none.
    uint64_t SocketOldest() const;
    // Bytes/s the receiver acknowledged over about the last second.
    int64_t TakeBps() const { return Rate(&Sample::acked, kSecondUs); }
    // Video bytes/s it acknowledged lately (less the audio written): what its link carries for
    // video while the receiver is behind. 0 until known.
    int64_t VideoTakeBps() const;

private:
    struct Written {
        uint64_t end;   // write position just after the picture; kUnplaced until the next look
        uint64_t taken;
    };
    static constexpr uint64_t kUnplaced = UINT64_MAX;
    struct Sample {
        int64_t at;
        uint64_t acked;
        uint64_t audio;
    };
    static constexpr size_t kRing = 128;
    static constexpr size_t kSamples = 12;
    static constexpr int64_t kSecondUs = 1000000;
    // Per second of a counter over about the last span_us.
    int64_t Rate(uint64_t Sample::*counter, int64_t span_us) const;

    int64_t m_budget;
    std::array<Written, kRing> m_ring{};
    size_t m_first = 0, m_count = 0;
    std::array<Sample, kSamples> m_samples{};
    size_t m_sampleNext = 0, m_sampleCount = 0;
    uint64_t m_audioBytes = 0;
    uint64_t m_audioSinceWrote = 0; // audio written after the last picture, before its look
    uint64_t m_forgiven = 0; // pictures taken up to this stamp were judged at the last drop
    bool m_awaitIdr = false;
    uint32_t m_lateDrops = 0;
    int64_t m_idrDue = 0;
    int64_t m_figureDue = 0;
};

} // namespace hdext::stream
