// libFuzzer target for the stream connection's reader: the input is what a TX would send on
// port 9000 (outer headers, bodies, anything). The reader must stop cleanly at a framing fault,
// never write past a buffer, and give back every frame record it took.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <thread>

#include "core/frame.h"
#include "core/mempool.h"
#include "decode/audio_decoder.h"
#include "decode/video_decoder.h"
#include "stream/protocol.h"

namespace {

bool set_up() {
    mempool_init();
    init_frame_buff_mgr(64, 102400);
    init_audio_frame_buff_mgr(64, 8192);
    g_pDecoder = new CMediaDecoder();
    g_pDecoder->InitList(100);
    g_pADecoder = new CAudioDecoderTask();
    g_pADecoder->InitList(100);
    return true;
}

int used(uint16_t kind, bool payload) { return mempool_stats(frame_pool(kind, payload)).used; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = set_up();
    (void)ready;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0) return 0;
    std::thread writer([&] {
        size_t done = 0;
        while (done < size) {
            ssize_t n = send(sv[0], data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        shutdown(sv[0], SHUT_WR);
    });
    hdext::stream::run_stream_reader(sv[1]);
    close(sv[1]); // a writer blocked on a reader that stopped early gets an error
    writer.join();
    close(sv[0]);
    frame_queue_flush(g_pDecoder->m_pList);
    frame_queue_flush(g_pADecoder->m_pList);
    if (used(kFrameKindVideo, false) || used(kFrameKindVideo, true) || used(kFrameKindAudio, false) ||
        used(kFrameKindAudio, true))
        std::abort();
    return 0;
}
