// The unit's Wi-Fi link: access point (TX) or station (RX) on "wlan0", pairing, channel
// calibration. The link statuses are read by the stream, UI and app code from any thread;
// every link change runs on the network task (module 0x3000) one message at a time.
#pragma once
#include <cstdint>
#include <mutex>

enum WIRELESS_MODE_E : int32_t { WIRELESS_MODE_AP = 0, WIRELESS_MODE_STA = 1 };

enum WIRELESS_STATUS_E : int32_t {
    WIRELESS_STATUS_STOP = 0,
    WIRELESS_STATUS_STARTING = 1,
    WIRELESS_STATUS_STARTED = 2,
};

enum PAIRING_STATUS_E : int32_t {
    PAIRING_STATUS_IDLE = 0,
    PAIRING_STATUS_STARTING = 1,
    PAIRING_STATUS_FINISHED = 2,
};

enum GUI_PAIRING_STATUS_E : int32_t {
    GUI_PAIRING_STATUS_NONE = 0,
    GUI_PAIRING_STATUS_REQUESTED = 1,
    GUI_PAIRING_STATUS_SUCCESS = 2,
    GUI_PAIRING_STATUS_TIMEOUT = 3,
    GUI_PAIRING_STATUS_LINKED = 4,
};

inline constexpr uint32_t kNetworkModule = 0x3000;
inline constexpr uint32_t LOCAL_MSG_NETWORK_PAIRING = 0x3001;
inline constexpr uint32_t LOCAL_MSG_NETWORK_RECONNECT = 0x3002;
inline constexpr uint32_t LOCAL_MSG_NETWORK_CALIBRATION = 0x3003;
inline constexpr uint32_t LOCAL_MSG_NETWORK_PAIR_ACK_WRITE = 0x3004;

class CNetworkTask {
public:
    // Created on first use; lives for the whole process. Any thread.
    static CNetworkTask* Instance();

    // Status accessors: each takes m_Lock around one read or write. Any thread.
    static WIRELESS_STATUS_E GetWirelessStatus();
    static void SetWirelessStatus(WIRELESS_STATUS_E s);
    static PAIRING_STATUS_E GetPairingStatus();
    static void SetPairingStatus(PAIRING_STATUS_E s);
    static GUI_PAIRING_STATUS_E GetGuiPairingStatus();
    static void SetGuiPairingStatus(GUI_PAIRING_STATUS_E s);

    // Posts {src, 0x3000, msgid, len, data} to the network task; the payload is copied.
    static int Notify(uint32_t src, uint32_t msgid, const void* data, int len);

    // Starts the DHCP server "dhcpd" for ifname and waits until it runs (TX "wlan0", the RX's
    // wired re-stream port). Network task or re-stream check thread; blocks.
    static int start_daemon_dhcpd(const char* ifname);

    WIRELESS_MODE_E mode = WIRELESS_MODE_AP;

    static std::mutex m_Lock;
    static WIRELESS_STATUS_E m_eStatus;
    static PAIRING_STATUS_E g_ePairStatus;
    static GUI_PAIRING_STATUS_E g_eGuiPairStatus;
};
