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

// A receiver is never shown a picture much older than this: the TX drops rather than queues.
inline constexpr milliseconds kLateBudget{100};
// What the kernel may hold of a stream socket, for 1080p60 at up to 12 Mbit/s (pictures of 2 to
// 25 kB, key pictures of 50 kB and more). Unsent: about one picture, so a link that dips leaves
// pictures waiting where the program sees them (16 kB is 85 ms at 1.5 Mbit/s). Much less and a
// picture's write blocks in the kernel halfway while the link stalls, out of the program's sight.
// Send buffer: above what a Wi-Fi link keeps in flight at full speed, far below the seconds the
// kernel's own sizing would allow.
inline constexpr int kStreamUnsent = 16384;
inline constexpr int kStreamSndbuf = 131072;

struct StreamConfig {
    std::string tx_address = "192.168.168.1"; // where an RX finds its TX
    std::string net_prefix = "192.168";       // peers outside it are refused by the TX
    // Both units meet only on the Wi-Fi link: the TX listens and the RX connects through this
    // interface alone (empty: any interface, for tests on loopback).
    std::string link_interface = "wlan0";
    uint16_t stream_port = 9000;
    uint16_t hb_port = 9990;
    milliseconds hb_period{1000};      // one heartbeat message each way
    milliseconds hb_timeout{12000};    // send/receive time-out of both connections
    milliseconds first_message{12000}; // TX: for the whole first message of a connection
    milliseconds app_timeout{5000};    // receive time-out of a paired app's socket
    milliseconds wait_stopped{2000};   // RX: while the Wi-Fi is stopped or pairing runs
    milliseconds wait_retry{1000};     // RX: after a failed connect, before a reconnect
    milliseconds wait_link_start{100}; // RX: between looks while its own link start runs
    // RX: a connect not answered by then is retried. Just over the kernel's 1 s before it sends
    // a lost SYN again, so an air link back within the first second is caught by that attempt.
    milliseconds connect_timeout{1200};
    // Both: a connection whose peer has answered nothing for this long (a cut air link) is
    // given up, so the RX reconnects and the TX frees the slot, instead of waiting out the
    // time-outs above or the kernel's growing retransmission pauses. 0: the kernel's defaults.
    // A shorter fade keeps the link: it costs less than a relink (teardown, 1 s pause,
    // connects, a new IDR). Just over the kernel's fourth retransmission of lost data (about
    // 3.1 s after the last answer) so that a fade up to 3 s is bridged even where the kernel's
    // back-off cannot be capped.
    milliseconds peer_silence{3500};
    milliseconds pin_wait_first{1000}; // app: hold-off after a wrong PIN, doubled each time
    milliseconds pin_wait_max{8000};
    // app: after a few wrong PINs in a row from any addresses, one PIN judged per wait for the
    // whole TX, doubled at each further wrong one, cleared by a right one.
    milliseconds pin_brake_first{1000};
    milliseconds pin_brake_max{16000};
    milliseconds app_pairing_limit{60000}; // app: a pairing connection ends this long after it began
    // app: an address without a wrong PIN for this long may take the pairing place kept free.
    milliseconds pin_fresh_after{60000};
    // TX: one receiver-announced channel change for the whole kit per this pause.
    milliseconds channel_pause{10000};
    // TX: a picture that has waited this long for a receiver (its list and, unsent, its socket)
    // is dropped with the video queued behind it; the receiver resumes at the next IDR.
    milliseconds late_budget = kLateBudget;
    // TX: what the kernel may hold of a stream socket: unsent bytes (beyond them a send waits,
    // so pictures wait where the program sees them) and the send buffer (sent, not yet
    // acknowledged, plus unsent). 0 leaves the kernel's own.
    int stream_unsent = kStreamUnsent;
    int stream_sndbuf = kStreamSndbuf;
    milliseconds listen_retry{1000};   // TX: between attempts to set up a listening socket
    milliseconds accept_pause_first{100}; // TX: accept failing for want of descriptors,
    milliseconds accept_pause_max{1000};  // doubled while it lasts
};

// Calls into the rest of the unit that the RX heartbeat makes. Null entries do nothing.
struct StreamHooks {
    int (*start_media)(int) = nullptr;    // StartMedia: decode tasks on the first link
    int (*signal_level)() = nullptr;      // Wi-Fi signal level 1..5 of the RX
    // Tests: true makes the start of that thread fail as when the system has none left.
    bool (*thread_refused)(const char* what) = nullptr;
    // Tests: an errno that the named acceptor's accept fails with instead (0: a real accept).
    int (*accept_error)(const char* acceptor) = nullptr;
};

// Set before the sender or receiver starts; read by their threads afterwards.
void set_config(const StreamConfig& cfg);
const StreamConfig& config();
void set_hooks(const StreamHooks& hooks);
const StreamHooks& hooks();

} // namespace hdext::stream
