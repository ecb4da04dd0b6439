// The lateness decisions of one stream connection, on a fake clock and a fake socket.
#include <gtest/gtest.h>

#include "stream/link_pace.h"

using hdext::stream::LinkPace;
using hdext::stream::SocketLook;

namespace {

constexpr int64_t kMs = 1000;

// A socket that has sent `sent` of the `written` bytes, `acked` of them acknowledged.
SocketLook sock(uint64_t written, uint64_t sent, uint64_t acked, bool stalled = false) {
    return {acked, static_cast<uint32_t>(written - acked), static_cast<uint32_t>(written - sent), stalled};
}

TEST(LinkPace, WaitCountsTheListAndWhatTheSocketHoldsAndALateOneResumesOnlyAtAnIdr) {
    int64_t t = 1000 * kMs;
    LinkPace p(100 * kMs, t);
    EXPECT_FALSE(p.NeedsLook(t)) << "nothing in the socket, no sample due";
    p.Wrote(t); // picture A, then audio
    p.WroteAudio(1000);
    p.Look(t, sock(21000, 0, 0));
    p.Wrote(t + 16 * kMs); // B
    p.Look(t += 50 * kMs, sock(41000, 20000, 10000)); // A left whole, B did not
    EXPECT_EQ(p.Wait(t, t - 40 * kMs), 40 * kMs) << "the list's first picture is older than B";
    EXPECT_FALSE(p.Late(t, t - 40 * kMs));
    EXPECT_TRUE(p.Late(t += 70 * kMs, 0)) << "B waited 104 ms in the socket";

    p.Dropped(3, t);
    EXPECT_TRUE(p.WantIdr(t));
    EXPECT_FALSE(p.WantIdr(t + 100 * kMs)) << "one request, then a pause";
    EXPECT_FALSE(p.Late(t + 200 * kMs, 0)) << "what the socket held at the drop is not judged again";
    EXPECT_FALSE(p.Admit(false));
    EXPECT_TRUE(p.WantIdr(t + 500 * kMs)) << "no IDR came: asked again";
    EXPECT_TRUE(p.Admit(true));
    EXPECT_TRUE(p.Admit(false)) << "after the IDR the stream runs on";
    EXPECT_EQ(p.LateDrops(), 4u);
    p.Wrote(t + 10 * kMs); // C, after the drop: judged
    p.Look(t + 100 * kMs, sock(61000, 21000, 21000));
    EXPECT_FALSE(p.Late(t + 100 * kMs, 0));
    p.Look(t + 111 * kMs, sock(61000, 61000, 50000, true));
    EXPECT_TRUE(p.Late(t + 111 * kMs, 0)) << "sent, but behind a lost segment";
    p.Look(t + 111 * kMs, sock(61000, 61000, 50000));
    EXPECT_EQ(p.Wait(t + 111 * kMs, 0), 0) << "sent, even if not acknowledged yet";
}

TEST(LinkPace, RatesComeFromWhatWasAcknowledged) {
    int64_t t = 0;
    LinkPace p(100 * kMs, t);
    uint64_t acked = 0;
    for (int i = 1; i <= 30; ++i) { // 100 kB/s for 2.5 s, then 50 kB/s, 10 kB/s of it audio
        acked += i <= 25 ? 10000 : 5000;
        p.WroteAudio(1000);
        p.Look(t += 100 * kMs, sock(acked, acked, acked));
    }
    EXPECT_EQ(p.TakeBps(), 75000) << "over the last second";
    EXPECT_EQ(p.VideoTakeBps(), 40000) << "lately, less the audio";
    EXPECT_TRUE(p.FigureDue(t));
    EXPECT_FALSE(p.FigureDue(t + 99 * kMs));
}

} // namespace
