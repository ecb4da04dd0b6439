// Addresses, ports and waits of the stream transport, and the calls it makes into start-up.
// The defaults are the unit's. Component tests on loopback change them before CreateSender /
// CreateReceiver; nothing reads them from the environment.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace hdext::stream {

using std::chrono::milliseconds;

struct StreamConfig {
    std::string tx_address = "192.168.168.1"; // where an RX finds its TX
    std::string net_prefix = "192.168";       // peers outside it are refused by the TX
    // Both units meet only on the Wi-Fi link: the TX listens and the RX connects through this
    // interface alone (empty: any interface, for tests on loopback).
    std::string link_interface = "wlan0";
    uint16_t stream_port = 9000;              // 0: any free port (see bound_*_port)
    uint16_t hb_port = 9990;
    milliseconds hb_period{1000};      // one heartbeat message each way
    milliseconds hb_timeout{12000};    // send/receive time-out of both connections
    milliseconds app_timeout{5000};    // receive time-out of a paired app's socket
    milliseconds wait_stopped{2000};   // RX: while the Wi-Fi is stopped or pairing runs
    milliseconds wait_retry{1000};     // RX: after a failed connect, before a reconnect
    milliseconds connect_timeout{1000}; // RX: a connect not answered by then is retried
    milliseconds pin_wait_first{1000}; // app: hold-off after a wrong PIN, doubled each time
    milliseconds pin_wait_max{8000};
};

// Calls into the rest of the unit that the RX heartbeat makes. Null entries do nothing.
struct StreamHooks {
    int (*start_media)(int) = nullptr;    // StartMedia: decode tasks on the first link
    int (*signal_level)() = nullptr;      // Wi-Fi signal level 1..5 of the RX
};

// Set before the sender or receiver starts; read by their threads afterwards.
void set_config(const StreamConfig& cfg);
const StreamConfig& config();
void set_hooks(const StreamHooks& hooks);
const StreamHooks& hooks();

// Ports actually listened on (differ from the configured ones only when those are 0).
extern std::atomic<int> bound_stream_port;
extern std::atomic<int> bound_hb_port;

} // namespace hdext::stream
