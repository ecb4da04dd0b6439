#include "stream/sender.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "board/figures.h"
#include "core/dump_print.h"
#include "encode/audio_encoder_task.h"
#include "encode/video_encoder_task.h"
#include "media/h264.h"
#include "net/network_task.h"
#include "stream/acceptor.h"
#include "stream/heartbeat.h"
#include "stream/link_pace.h"
#include "stream/stream_config.h"
#include "stream/stream_net.h"

CSender* g_pSenderSlots = nullptr;

namespace {

using hdext::stream::config;

// What a sending thread serves: its slot's registration and its own connection.
struct SendArg {
    CSender* slot;
    uint32_t gen;
    int index; // the slot's place
    CSender conn;
};

// Longest sleep of an idle sending thread before it looks at its socket.
constexpr uint32_t kSendIdleWaitUs = 20000;
// Longest wait for a socket that holds all the unsent bytes it may before the sending thread
// looks again at how late its receiver is.
constexpr std::chrono::milliseconds kLookTick{10};

// The figures of the connection in sender slot `index` ("slot<i>_..." on the capture sheet)
// while it streams. A connection that ended never clears those of the next one on its slot.
class SlotFigures {
public:
    SlotFigures(int index, uint32_t addr) : m_prefix("slot" + std::to_string(index) + "_"), m_index(index) {
        std::lock_guard<std::mutex> g(owners().lock);
        m_id = ++owners().next;
        owners().id[m_index] = m_id;
        hdext::board::clear_figures(kSheet, m_prefix);
        hdext::board::set_figure(kSheet, m_prefix + "addr", hdext::stream::address_text(addr));
        Put(0, 0, 0);
    }
    ~SlotFigures() {
        std::lock_guard<std::mutex> g(owners().lock);
        if (owners().id[m_index] != m_id) return;
        owners().id[m_index] = 0;
        hdext::board::clear_figures(kSheet, m_prefix);
    }
    SlotFigures(const SlotFigures&) = delete;
    SlotFigures& operator=(const SlotFigures&) = delete;
    void Show(int64_t wait_ms, int64_t rate_kbps, uint32_t late_drops) {
        std::lock_guard<std::mutex> g(owners().lock);
        if (owners().id[m_index] == m_id) Put(wait_ms, rate_kbps, late_drops);
    }

private:
    static constexpr auto kSheet = hdext::board::FigureSheet::capture;
    struct Owners {
        std::mutex lock;
        uint64_t id[kSenderSlots] = {};
        uint64_t next = 0;
    };
    static Owners& owners() {
        static auto* o = new Owners; // a sending thread may still end while the process exits
        return *o;
    }
    void Put(int64_t wait_ms, int64_t rate_kbps, uint32_t late_drops) {
        hdext::board::set_figure(kSheet, m_prefix + "wait_ms", wait_ms);
        hdext::board::set_figure(kSheet, m_prefix + "rate_kbps", rate_kbps);
        hdext::board::set_figure(kSheet, m_prefix + "late_drops", late_drops);
    }

    std::string m_prefix;
    int m_index;
    uint64_t m_id = 0;
};

// One connection's pacing as its sending thread runs it: between frames it looks at how late
// the receiver is, drops what came too late, asks for the IDR that resumes the stream, and
// tells the encoder (its bit rate) and the figures.
class PacedLink {
public:
    PacedLink(CSender& conn, int index)
        : m_conn(conn), m_pace(config().late_budget.count() * 1000, static_cast<int64_t>(frame_now_us())),
          m_figures(index, conn.m_addr) {
        conn.m_pPace = &m_pace;
    }
    ~PacedLink() { m_conn.m_pPace = nullptr; }
    PacedLink(const PacedLink&) = delete;
    PacedLink& operator=(const PacedLink&) = delete;

    void Look() {
        const auto now = static_cast<int64_t>(frame_now_us());
        hdext::stream::SocketLook s;
        if (m_pace.NeedsLook(now) && hdext::stream::look_socket(m_conn.m_sock, &s)) m_pace.Look(now, s);
        const uint64_t first = frame_queue_first_taken(m_conn.m_pVideoList);
        const auto stale = static_cast<uint64_t>(std::max<int64_t>(now - m_pace.Budget(), 0));
        if (m_pace.Late(now, first)) m_pace.Dropped(frame_queue_drop_taken_before(m_conn.m_pVideoList, stale), now);
        if (m_conn.m_pAudioList) frame_queue_drop_taken_before(m_conn.m_pAudioList, stale);
        if (m_conn.m_pVenc) {
            if (m_pace.WantIdr(now)) m_conn.m_pVenc->RequestIdr();
            m_conn.m_pVenc->NoteLink(m_conn.m_pVideoList, m_pace.SocketOldest(), m_pace.LateDrops(),
                                     m_pace.VideoTakeBps() * 8 / 1000);
        }
        if (m_pace.FigureDue(now))
            m_figures.Show(m_pace.Wait(now, first) / 1000, m_pace.TakeBps() * 8 / 1000, m_pace.LateDrops());
    }

private:
    CSender& m_conn;
    hdext::stream::LinkPace m_pace;
    SlotFigures m_figures;
};

bool peer_gone(int fd) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return poll(&p, 1, 0) != 0;
}

} // namespace

int CSender::Send() {
    if (!m_pVideoList) {
        std::printf("video frame head is NULL\n");
        return -2;
    }
    frame_buff* f;
    // While the stream waits for an IDR, what comes before it goes: the receiver could not decode it.
    while ((f = frame_dequeue(m_pVideoList)) && m_pPace && m_pPace->AwaitingIdr() &&
           !m_pPace->Admit(hdext::media::frame_is_idr(f)))
        free_frame(f);
    if (!f) return kSendIdle;
    if (!m_pProtocol) {
        free_frame(f);
        return -1;
    }
    int ret;
    if (f->len == f->total) {
        ret = m_pProtocol->Send_Framebuff(m_sock, static_cast<int>(f->len), FU_ENTIRE, f);
    } else {
        ret = m_pProtocol->Send_Framebuff(m_sock, static_cast<int>(f->total), FU_START, f);
        // The chunks carry their number and the frame's pts since before the fan-out: every
        // receiver's clone shares them, so nothing here writes to them.
        uint32_t count = 0;
        for (frame_buff* c = frame_ctl_of(f)->chain; ret == 0 && c; c = frame_ctl_of(c)->chain) {
            ++count;
            // The chunk that completes the total ends the frame; a spare empty chunk after it
            // (a frame of an exact multiple of the block size) is not sent.
            const bool end = c->len + static_cast<uint64_t>(count) * f->cap == f->total;
            ret = m_pProtocol->Send_Framebuff(m_sock, static_cast<int>(f->total), end ? FU_END : FU_MIDDLE, c);
            if (end) break;
        }
    }
    if (ret == 0 && m_pPace) m_pPace->Wrote(frame_taken_us(f));
    free_frame(f);
    return ret;
}

int CSender::SendAud() {
    if (!m_pAenc) {
        std::printf("did not set AENC instance\n");
        return -1;
    }
    if (!m_pAudioList) {
        std::printf("!!!!!! Sender's audio frame list is NULL, you must set it at first !!!!!!\n");
        return -1;
    }
    frame_buff* a = frame_dequeue(m_pAudioList);
    if (!a) return kSendIdle;
    int ret = 0;
    if (a->total > static_cast<uint32_t>(kStreamChunk)) {
        // One packet carries a whole audio frame; a larger one is lost, not the connection.
        if (!m_audioTooLarge) std::printf("audio frame of %u bytes dropped: more than one packet holds\n", a->total);
        m_audioTooLarge = true;
    } else {
        m_audioTooLarge = false;
        ret = !m_pProtocol ? -1 : m_pProtocol->Send_Framebuff(m_sock, static_cast<int>(a->len), FU_ENTIRE, a);
        if (ret == 0 && m_pPace) m_pPace->WroteAudio(a->len + kStreamOuterHeader + kStreamInnerHeader);
    }
    free_audio_frame(a);
    return ret;
}

void CSender::SetFrameHead(frame_buff_head* video, frame_buff_head* audio) {
    m_pVideoList = video;
    m_pAudioList = audio;
}

void CSender::SetEncoderInstance(CVideoEncoderTask* video, CAudioEncoderTask* audio) {
    if (!video) {
        std::printf("VideoEncoderInstance is NULL\n");
        return;
    }
    m_pVenc = video;
    if (audio) m_pAenc = audio;
}

int CSender::CreateProtocol() {
    if (!m_pProtocol) m_pProtocol = new (std::nothrow) CDecoderProtocol();
    if (!m_pProtocol) return -1;
    return m_pProtocol->CreateSendBuffer();
}

void CSender::ClearFrameHead() {
    if (m_pVideoList) frame_queue_flush(m_pVideoList);
    if (m_pAudioList) frame_queue_flush(m_pAudioList);
}

void CSender::ReleaseFrameHead() {
    if (m_pVenc && m_pVideoList) m_pVenc->ReleaseFrameHead(m_pVideoList);
    if (m_pAenc && m_pAudioList) m_pAenc->ReleaseFrameHead(m_pAudioList);
    m_pVideoList = nullptr;
    m_pAudioList = nullptr;
    if (m_pProtocol) m_pProtocol->DestroySendBuffer();
}

int CreateSender() {
    g_pSenderSlots = new CSender[kSenderSlots];
    {
        std::lock_guard<std::mutex> g(g_mutex);
        std::memset(g_thdInfo, 0, sizeof g_thdInfo);
        std::memset(ClientNum, 0, sizeof ClientNum);
    }
    hdext::stream::start_thread_or(AcceptClientProc, g_pSenderSlots, "AcceptClient", [] {});
    hdext::stream::start_thread_or(HB_ProcessTX, g_pSenderSlots, "HB_ProcessTX", [] {});
    return 0;
}

namespace {

void say_stream_step(const char* step, int err) {
    if (!std::strcmp(step, "socket")) std::printf(" create socket error: %s (errno :%d)\n", strerror(err), err);
    else if (!std::strcmp(step, "reuseaddr")) DUMP(3, "setsockopt reuseaddr faild ");
    else if (!std::strcmp(step, "linger")) DUMP(3, "setsockopt m_linger faild ");
    else if (!std::strcmp(step, "bind")) std::printf(" bind socket error: %s (errno :%d)\n", strerror(err), err);
    else std::printf(" listen socket error: %s (errno :%d)\n", strerror(err), err);
}

void say_stream_accept_error(int err) { std::printf(" accpt socket error: %s (errno :%d)\n", strerror(err), err); }

// A stream connection that will not be served: its lists go back to the encoders, the slot
// forgets it (still its registration), the socket is closed.
void give_back(CSender* slot, uint32_t gen, int fd, frame_buff_head* video, frame_buff_head* audio) {
    if (video) g_pTaskVENC->ReleaseFrameHead(video);
    if (audio) g_pAEncoder->ReleaseFrameHead(audio);
    {
        std::lock_guard<std::mutex> g(g_mutex);
        if (slot->m_gen == gen && slot->m_sock == fd) {
            slot->m_sock = 0;
            slot->m_streamConnected = 0;
            slot->m_pProtocol = nullptr;
            slot->SetFrameHead(nullptr, nullptr);
        }
    }
    t_socket_shutdown(fd, SHUT_RDWR);
}

} // namespace

void* AcceptClientProc(void* arg) {
    using hdext::stream::LogBrake;
    auto* slots = static_cast<CSender*>(arg);
    pthread_setname_np(pthread_self(), "AcceptClient");
    std::printf("###### ###### AcceptClient thread PID=%lX.\n", hdext::stream::thread_id());
    hdext::stream::Acceptor acceptor("stream", config().stream_port, say_stream_step, say_stream_accept_error);
    acceptor.open();
    LogBrake pairing_brake, over_brake, outside_brake, new_brake, lists_brake;
    for (;;) {
        sockaddr_in peer{};
        const int fd = acceptor.next(&peer);
        if (hdext::stream::set_time_out(fd, SO_SNDTIMEO, config().hb_timeout) < 0) {
            DUMP(3, "setsockopt sndtimeout faild ");
            close(fd);
            continue;
        }
        // Packets leave as soon as they are written; the header rides with its body (MSG_MORE).
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        hdext::stream::bound_unsent(fd);
        if (CNetworkTask::GetPairingStatus() == PAIRING_STATUS_STARTING) {
            hdext::stream::refuse(fd, pairing_brake, "GetPairingStatus==PAIRING_STATUS_STARTING\n");
            continue;
        }
        bool over;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            over = CSender::m_numClient > hdext::stream::supported_clients();
        }
        if (over) {
            hdext::stream::refuse(
                fd, over_brake, "################# Sender can not connect , over number ####################\n");
            continue;
        }
        char host[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
        getnameinfo(reinterpret_cast<sockaddr*>(&peer), sizeof peer, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV);
        if (new_brake.pass()) DUMP(3, "new tambo connection: %s :  %s\n", host, serv);
        if (!hdext::stream::in_network(host)) {
            hdext::stream::refuse(fd, outside_brake, "connect ip:  Does not belong to the network segment \n");
            continue;
        }
        CSender* slot = nullptr;
        uint32_t gen = 0;
        {
            std::lock_guard<std::mutex> g(g_mutex);
            for (int i = 0; i < kSenderSlots && !slot; ++i) {
                CSender& s = slots[i];
                if (s.m_state != SENDER_STATE_REGISTERED || s.m_addr != peer.sin_addr.s_addr) continue;
                s.m_sock = fd;
                s.m_state = SENDER_STATE_STREAMING;
                s.m_streamConnected = 1;
                slot = &s;
                gen = s.m_gen;
            }
        }
        if (!slot) {
            t_socket_shutdown(fd, SHUT_RDWR);
            continue;
        }
        frame_buff_head* video = g_pTaskVENC ? g_pTaskVENC->GetFrameHead() : nullptr;
        if (video) std::printf("get VENC framehead success\n");
        frame_buff_head* audio = g_pAEncoder ? g_pAEncoder->GetFrameHead() : nullptr;
        if (audio) std::printf("get AEnc framehead success\n");
        if (!video || !audio) {
            if (lists_brake.pass()) std::printf("can not get frame head\n");
            give_back(slot, gen, fd, video, audio);
            continue;
        }
        std::printf("new socket : %d\n", fd);
        auto* sa = new SendArg{slot, gen, static_cast<int>(slot - slots), CSender{}};
        CSender& conn = sa->conn;
        conn.m_sock = fd;
        conn.m_addr = peer.sin_addr.s_addr;
        conn.SetFrameHead(video, audio);
        conn.SetEncoderInstance(g_pTaskVENC, g_pAEncoder);
        conn.CreateProtocol();
        {
            std::lock_guard<std::mutex> g(g_mutex);
            if (slot->m_gen == gen) {
                slot->SetFrameHead(video, audio);
                slot->SetEncoderInstance(g_pTaskVENC, g_pAEncoder);
                slot->m_pProtocol = conn.m_pProtocol;
            }
        }
        hdext::stream::start_thread_or(thdSendStream, sa, "SendStream", [&] {
            give_back(slot, gen, fd, video, audio);
            delete sa->conn.m_pProtocol;
            delete sa;
        });
    }
}

void* thdSendStream(void* arg) {
    auto* sa = static_cast<SendArg*>(arg);
    CSender* slot = sa->slot;
    const uint32_t gen = sa->gen;
    const int index = sa->index;
    CSender conn = sa->conn;
    delete sa;
    pthread_setname_np(pthread_self(), "SendStream");
    std::printf("###### ###### SendStream thread PID=%lX.\n", hdext::stream::thread_id());
    conn.ClearFrameHead();
    // The receiver's first picture: asked for only now, so the clear above cannot take it.
    if (conn.m_pVenc) conn.m_pVenc->RequestIdr();
    PacedLink paced(conn, index);
    for (;;) {
        const uint32_t seen = frame_queued_epoch();
        paced.Look();
        // The socket holds all it may unsent: look again shortly rather than block in a send.
        const bool queued = frame_queue_count(conn.m_pVideoList) > 0 || frame_queue_count(conn.m_pAudioList) > 0;
        if (queued && !hdext::stream::wait_writable(conn.m_sock, kLookTick)) continue;
        int ret = conn.Send();
        if (ret == -1 || ret == -2) break;
        if (ret == kSendIdle) {
            // Nothing to show: give audio its turn; if that was empty too, sleep until an
            // encoder queues a frame instead of polling.
            int aud = 0;
            if (conn.m_pAenc && conn.m_pAudioList && (aud = conn.SendAud()) == -1) break;
            if (aud == kSendIdle) {
                frame_wait_queued(seen, kSendIdleWaitUs);
                // The receiver never writes: a readable or hung-up socket means it is gone, so
                // a dead connection gives its lists back even while no frame flows.
                if (frame_queued_epoch() == seen && peer_gone(conn.m_sock)) break;
            }
        }
        if (!conn.m_pAenc) {
            std::printf("did not set AENC instance\n");
            break;
        }
        if (!conn.m_pAudioList) {
            std::printf("!!!!!! Sender's audio frame list is NULL, you must set it at first !!!!!!\n");
            break;
        }
        if (conn.SendAud() == -1) break;
    }
    {
        std::lock_guard<std::mutex> g(g_mutex);
        if (slot->m_gen == gen) {
            if (slot->m_sock == conn.m_sock) {
                slot->m_sock = 0;
                slot->m_streamConnected = 0;
            }
            // Ending the heartbeat connection frees the slot (its client thread does that).
            hdext::stream::wake_socket(slot->m_hbSock);
            slot->m_hbSock = 0;
            slot->m_hbConnected = 0;
            if (slot->m_pProtocol == conn.m_pProtocol) {
                slot->m_pProtocol = nullptr;
                slot->SetFrameHead(nullptr, nullptr);
            }
        }
    }
    t_socket_shutdown(conn.m_sock, SHUT_RDWR);
    conn.ReleaseFrameHead();
    delete conn.m_pProtocol;
    DUMP(3, "11111111 %s will quit\n", "thdSendStream");
    return nullptr;
}
