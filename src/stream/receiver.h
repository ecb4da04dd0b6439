// RX side of the stream transport: the link to the TX (heartbeat connection, then the stream
// connection), the stream reader, and the receiver task (0x4000) that rebuilds a lost link.
// gr_mutex guards the CReceiver fields.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/task.h"

inline constexpr uint32_t kMsgReceiverReconnect = 16385;

class CReceiver {
public:
    // Opens a stream connection and stores it as the stream socket: 0 or -1.
    int ConnectTo(char* address, char* port);
    void Init();
    void SetSock(int fd);
    void SetHBSock(int fd);

    int32_t m_link = 0;    // live link threads: 0, 2 (heartbeat), 3 (with the stream)
    int32_t m_sock = -1;   // stream socket
    int32_t m_hbSock = -1; // heartbeat socket
};

extern CReceiver* pReceiver;
extern std::mutex gr_mutex;
// 0 before the first link, 1 while linked, 2 once a reconnect has begun.
extern std::atomic<int> FirstLink;

// Start-up thread; returns once the first heartbeat connection is up. 0.
int CreateReceiver();
// Connects the heartbeat (retrying while the TX is unreachable) and starts its two threads.
// 0, or -1 when a socket cannot be made. Blocks.
int HB_ProcessRX();
// Heartbeat receiver thread: opens the stream connection and starts its reader. Blocks while
// it retries.
int StartReceiver();
void* RecvStreamProc(void* arg);
void onNetworkHandler(THR_TASK* task, MQ_LIST* msg);
int Notify(int source, int message, char* data, int length);

namespace hdext::stream {
// True while the heartbeat connection to the TX is up. Any thread.
bool rx_linked();
// End of one link thread: counts down, wakes the others; the last closes both sockets and
// asks the receiver task to reconnect. `what` is the thread's exit log format (one %d).
void link_thread_end(const char* what);
} // namespace hdext::stream
