// Socket helpers of the stream transport and the 108-byte heartbeat message layout.
#pragma once
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "stream/limits.h"

// TX side: for fd > 0, shutdown then close; the close result, -1 for fd < 1.
int t_socket_shutdown(int fd, int how);
// RX side: the same with the receiver's log texts.
int r_socket_shutdown(int fd, int how);
// Reads exactly length bytes: the count, 0 for length 0, -1 on an error or a closed peer.
int Recv_HB_Data(int fd, unsigned char* buffer, int length);

namespace hdext::stream {

// Wakes every thread blocked on fd without releasing the descriptor: only the thread that
// owns a socket closes it, so a descriptor number is never reused under another thread.
void wake_socket(int fd);
int set_time_out(int fd, int option, std::chrono::milliseconds t);
int set_linger_off(int fd);
// Gives up the connection once its peer has answered nothing for the configured silence,
// whether data wait for an acknowledgement or the line is idle (then probed every second).
void watch_peer(int fd);
// Bounds what the kernel holds unsent for a stream socket and its send buffer (the
// configuration's values), so a link that cannot keep up makes the program's lists grow, where
// it sees and decides, not the kernel's. 0, or -1 when the kernel refused one.
int bound_unsent(int fd);
struct SocketLook;
// What the kernel holds for a stream socket; false when it cannot tell. Any thread.
bool look_socket(int fd, SocketLook* out);
// Waits at most `wait` until the socket takes more bytes (or has failed, so a send reports it):
// false when it still does not.
bool wait_writable(int fd, std::chrono::milliseconds wait);
// Ties a socket to the link interface of the configuration (no-op when none): 0 or -1.
int bind_link_interface(int fd);
// A listening socket on any address with SO_REUSEADDR and SO_LINGER off; -1 on failure
// (the caller prints its own message; `step` names what failed: "socket", "reuseaddr",
// "linger", "bind", "listen"). It listens on the link interface only.
int listen_any(uint16_t port, const char** step);
// Dotted text of an IPv4 address in network order.
std::string address_text(uint32_t addr);
bool in_network(const std::string& address);
// Starts a detached thread: pthread_create's result (0 on success).
int start_thread(void* (*fn)(void*), void* arg);
// The calling thread's identifier as the threads' announcement lines print it.
unsigned long thread_id();
// Sleeps in short steps; any thread.
void sleep_for(std::chrono::milliseconds t);
// Sends all of the buffer without raising SIGPIPE; the count or the failing result.
int send_all(int fd, const void* data, int length);
// Reads exactly length bytes unless `deadline` passes first (a peer that trickles gets no
// more time): the count, or -1 on time-out, error or close. Blocks.
int recv_until(int fd, uint8_t* buffer, int length, std::chrono::steady_clock::time_point deadline);
// Waits until `until` while watching the peer: false as soon as it has closed (data it sends
// meanwhile stays queued). Blocks.
bool wait_watching(int fd, std::chrono::steady_clock::time_point until);
// Closes a refused connection; its line goes through the brake (a flood must not flood the log).
void refuse(int fd, LogBrake& brake, const char* line);

} // namespace hdext::stream

// Heartbeat message: numeric fields 0..19 little-endian, type marker big-endian.
namespace hb {
inline constexpr int kLen = 108;
inline constexpr int kWidth = 0, kHeight = 4, kRate = 8, kTiming = 12, kAudio = 16, kType = 20,
                     kPresent = 22, kChannel = 23, kChanged = 24, kSignal = 25, kClient = 26,
                     kCount = 27, kVersion = 35, kPin = 67, kUuid = 72;
inline constexpr int kUuidLen = 36, kVersionLen = 32, kCountLen = 8, kPinLen = 4;
inline constexpr uint16_t kTypeRx = 0xDDFF, kTypeApp = 0xAABB, kTypePairRequest = 0xFFFF,
                          kTypeAppStatus = 0x1234;
inline constexpr int kNoTiming = 49;
// Numeric fields back to back before the marker, the text fields after it up to the end.
static_assert(kHeight == kWidth + 4 && kRate == kHeight + 4 && kTiming == kRate + 4 &&
              kAudio == kTiming + 4 && kType == kAudio + 4 && kPresent == kType + 2);
static_assert(kChannel == kPresent + 1 && kChanged == kChannel + 1 && kSignal == kChanged + 1 &&
              kClient == kSignal + 1 && kCount == kClient + 1);
static_assert(kVersion == kCount + kCountLen && kPin == kVersion + kVersionLen &&
              kPin + kPinLen < kUuid && kUuid + kUuidLen == kLen);
inline constexpr uint32_t kNoAudio = 96001;

inline void put32(uint8_t* m, int off, uint32_t v) {
    for (int i = 0; i < 4; ++i) m[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t get32(const uint8_t* m, int off) {
    return uint32_t{m[off]} | (uint32_t{m[off + 1]} << 8) | (uint32_t{m[off + 2]} << 16) |
           (uint32_t{m[off + 3]} << 24);
}
inline void put_type(uint8_t* m, uint16_t t) {
    m[kType] = static_cast<uint8_t>(t >> 8);
    m[kType + 1] = static_cast<uint8_t>(t);
}
inline uint16_t type(const uint8_t* m) { return static_cast<uint16_t>((m[kType] << 8) | m[kType + 1]); }
} // namespace hb
