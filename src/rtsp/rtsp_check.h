// The re-stream check of an RX (full build): once the USB port is powered and a USB Ethernet
// adapter shows up, give it 192.168.0.1, serve DHCP on it and start the RTSP server (once per
// process); then RtmpEn lets the stream receiver copy frames to the re-stream lists.
#pragma once
#include <chrono>

#include "rtsp/rtsp_entry.h"

inline constexpr std::chrono::milliseconds kRtspCheckIdle{2000};
inline constexpr int kRtspMinEthernetIfs = 3; // built-in, Wi-Fi, and the adapter

struct RtspCheckOptions {
    std::chrono::milliseconds idle = kRtspCheckIdle;
    int (*start_dhcpd)(const char* ifname) = nullptr; // null: CNetworkTask::start_daemon_dhcpd
    void* (*server)(void*) = nullptr;                  // null: rtmp_init
};

// Used by one thread only.
class CRtspCheck {
public:
    explicit CRtspCheck(RtspCheckOptions opt = {});
    // One pass of the check; true when the caller should wait opt.idle before the next one.
    bool step();
    bool server_started() const { return m_ServerStarted; }
    const RtspCheckOptions& options() const { return m_Opt; }

private:
    bool configure();
    RtspCheckOptions m_Opt;
    bool m_ServerStarted = false;
};
