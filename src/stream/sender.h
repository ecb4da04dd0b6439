// TX side of the stream transport: three client slots, the stream acceptor (port 9000), one
// sending thread per stream connection, and the client table shared with the heartbeat.
// g_mutex guards the slots, the client table, ClientNum and CSender::m_numClient.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "core/frame.h"
#include "stream/protocol.h"

class CVideoEncoderTask;
class CAudioEncoderTask;
namespace hdext::stream {
class LinkPace;
}

enum SENDER_STATE_E : int32_t {
    SENDER_STATE_FREE = 0,
    SENDER_STATE_REGISTERED = 1, // heartbeat up, waiting for the stream connection
    SENDER_STATE_STREAMING = 2,
    SENDER_STATE_DISABLED = 3,   // index not below the supported-clients setting
};

inline constexpr int kSenderSlots = 3;
inline constexpr int kSendIdle = -50000; // Send/SendAud: nothing queued

// One client slot. The sending thread works on a copy taken at its start, so a slot can be
// registered again while a finished connection still winds down.
class CSender {
public:
    int Send();
    int SendAud();
    void SetFrameHead(frame_buff_head* video, frame_buff_head* audio);
    void SetEncoderInstance(CVideoEncoderTask* video, CAudioEncoderTask* audio);
    int CreateProtocol();
    void ClearFrameHead();
    void ReleaseFrameHead();

    int32_t m_state = SENDER_STATE_FREE;
    int32_t m_streamConnected = 0;
    int32_t m_hbConnected = 0;
    uint32_t m_addr = 0;  // network order
    int32_t m_sock = 0;   // stream socket
    int32_t m_hbSock = 0; // heartbeat socket
    CDecoderProtocol* m_pProtocol = nullptr;
    CVideoEncoderTask* m_pVenc = nullptr;
    CAudioEncoderTask* m_pAenc = nullptr;
    frame_buff_head* m_pVideoList = nullptr;
    frame_buff_head* m_pAudioList = nullptr;
    // Registration number: a thread acts on the slot only while it is still its registration.
    uint32_t m_gen = 0;
    bool m_audioTooLarge = false; // an oversize audio frame was reported (until a good one)
    // The connection's pacing (its sending thread's): Send skips what it refuses and tells it
    // what went into the socket. None: every frame is sent.
    hdext::stream::LinkPace* m_pPace = nullptr;

    static int32_t m_numClient; // live heartbeat connections (receivers and apps)
};

// Client table entry (32 bytes).
struct THD_INFO {
    uint8_t used;
    uint8_t reserved[23];
    uint32_t addr;
    uint8_t number; // 1..3, 0 when the numbers ran out
    uint8_t signal;
    uint8_t reserved2[2];
};
static_assert(sizeof(THD_INFO) == 32 && offsetof(THD_INFO, addr) == 24 &&
              offsetof(THD_INFO, number) == 28 && offsetof(THD_INFO, signal) == 29);

extern std::mutex g_mutex;
extern THD_INFO g_thdInfo[kSenderSlots];
extern uint8_t ClientNum[kSenderSlots];
extern CSender* g_pSenderSlots;

// Starts the stream acceptor and the heartbeat acceptor (detached). Start-up thread; 0.
int CreateSender();
void* AcceptClientProc(void* slots);
void* thdSendStream(void* arg);

// Under g_mutex.
int GetClientNum();
void CloseClientNum(int index);
// Registers a heartbeat client in the first free slot: its index, or -1 when every slot is
// taken or the address already holds one. Under g_mutex.
int t_set_csender_info(CSender* slots, int hb_sock, uint32_t addr);

namespace hdext::stream {
// Supported clients as the slots see it (at most 3). Under g_mutex.
int supported_clients();
// Client table: enters addr (numbering rule of the heartbeat); leaves by address, moving
// later entries up. Under g_mutex.
void client_enter(uint32_t addr);
void client_leave(uint32_t addr);
// Ends the slot's registration: wakes its stream connection (whose sending thread closes it),
// forgets what the slot held, gives it a new registration number (threads of the old one leave
// it alone) and frees it unless disabled. Under g_mutex.
void slot_release(CSender& slot);
// Ends a heartbeat client's hold on its slot: wakes the stream connection, frees the slot when
// it is still registration `gen`, leaves the client table, counts down. Then closes hb_sock.
// Takes g_mutex; returns the count before.
int client_thread_end(CSender* slot, uint32_t gen, int hb_sock, uint32_t addr);
// Counts a new heartbeat client thread (m_numClient, status byte 7) and enters it in the
// client table. Takes g_mutex; returns the supported-clients setting the thread starts with.
int client_thread_begin(uint32_t addr);
} // namespace hdext::stream
