// Heartbeat and control connection (port 9990): 108-byte messages once a second each way.
// TX: the acceptor, a dispatcher per connection, a client thread per receiver or app.
// RX: a sending and a receiving thread per link (started by the receiver).
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

class CSender;

// Dispatcher argument (owned by the thread it is given to).
struct HB_CONN_ARG {
    int fd;
    uint32_t addr; // network order
    CSender* slots;
};

void* HB_ProcessTX(void* slots);
void* judge_device_info(void* arg);
void* send_rx_info(void* arg);
void* HB_RX_send_data(void* arg);
void* HB_RX_recv_data(void* arg);

// Companion app service (TX).
void* app_pair_info(void* arg);
void* send_app_info(void* arg);
// The dispatcher's step for a connection whose first message has the app type.
void app_connection(HB_CONN_ARG* conn, const uint8_t* first);

// Client thread argument: the slot and the registration it serves.
struct HB_SLOT_ARG {
    CSender* slot;
    uint32_t gen;
    int fd;
    uint32_t addr;
};

// RX: the channel both sides last agreed on, guarded by HB_mutex.
extern std::mutex HB_mutex;
extern int sync_channel;
// RX: output timing last told to the decode task.
extern std::atomic<int> g_CurrResolution;

namespace hdext::stream {
// Fills the TX's input fields (0..19, 22) of a reply from the selected input.
void fill_input_fields(uint8_t* msg);
// Clears status byte 14 once a client thread has been started.
void client_thread_started();
} // namespace hdext::stream
