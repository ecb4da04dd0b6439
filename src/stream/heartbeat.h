// Heartbeat and control connection (port 9990): 108-byte messages once a second each way.
// TX: the acceptor, one dispatcher for the connections that owe their first message, a client
// thread per receiver or app. RX: a sending and a receiving thread per link (started by the
// receiver).
#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "stream/stream_net.h"

class CSender;

// Dispatcher argument (owned by the thread it is given to).
struct HB_CONN_ARG {
    int fd;
    uint32_t addr; // network order
    CSender* slots;
};

void* HB_ProcessTX(void* slots);
// The dispatcher thread: reads the first message of every waiting connection (see
// await_first_message) and judges each one complete.
void* judge_device_info(void*);
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
    // A receiver's first message, read by the dispatcher: answered at once, so a receiver
    // that links again learns the TX's input without waiting for its next message.
    std::array<uint8_t, hb::kLen> first{};
};

// RX: the channel both sides last agreed on, guarded by HB_mutex.
extern std::mutex HB_mutex;
extern int sync_channel;
// RX: output timing last told to the decode task.
extern std::atomic<int> g_CurrResolution;

namespace hdext::stream {
// True when a slot holds addr (registered or streaming). Under g_mutex.
bool address_registered(const CSender* slots, uint32_t addr);
// Fills the TX's input fields (0..19, 22) of a reply from the selected input.
void fill_input_fields(uint8_t* msg);
// Clears status byte 14 once a client thread has been started.
void client_thread_started();

// Hands a heartbeat connection that passed the acceptor's checks to the dispatcher, which
// owns it from here: it is judged once its first message is in, and closed when the peer
// closes it, when the whole message is not in within the first-message time, or when its
// address already has kPendingPerAddress connections waiting. Past kPendingMax waiting the
// oldest is closed. Acceptor thread.
void await_first_message(int fd, uint32_t addr, CSender* slots);
// The first message's step: a receiver gets a slot and its client thread, an app goes to the
// app service, anything else is closed. Dispatcher thread.
void judge_first_message(int fd, uint32_t addr, CSender* slots, const uint8_t* msg);
// Starts a client thread for a registered slot; when it cannot start, the slot is released
// and the socket closed. True when it started.
bool start_client_thread(void* (*fn)(void*), HB_SLOT_ARG* client, const char* what);

// What a TX client thread keeps between the messages of its receiver.
struct RxClientState {
    uint32_t addr;         // network order
    int settings_channel;  // the stored channel last seen
    int channel;           // the channel this receiver is told
    int refused;           // the unsupported channel last refused (said once)
};
// Turns a receiver's message into the TX's reply, in place: a channel change is taken only
// for a supported channel and at most once per channel pause for the whole kit (then posted to
// the parameter store; one held back is taken when the pause ends), the signal level goes into
// the client table, the input fields, channel, client number and version are filled in.
// Client thread.
void answer_receiver(uint8_t* msg, RxClientState& st);

// Judges the PIN of an app's pairing reply once the address's own wait and the brake across
// all addresses allow: the verdict, or nothing and `until` set to when to ask again. Checked
// and recorded in one step, so PINs that arrive together are judged one after the other; the
// PIN of the kept pairing place (`kept`) goes before the others when the brake opens.
std::optional<bool> judge_pin(uint32_t addr, const uint8_t* pin, const char* right_pin, bool kept,
                              std::chrono::steady_clock::time_point* until);

// RX: takes one message of the TX (status bytes, channel, format variables, decode-task
// messages, the first link). `present_seen`: the input-present value last told, -1 at first.
// Receiving thread.
void rx_take_heartbeat(const uint8_t* msg, int& present_seen);
} // namespace hdext::stream
