// The unit's Wi-Fi link: access point (TX) or station (RX) on "wlan0", pairing, channel
// calibration. The link statuses are read by the stream, UI and app code from any thread;
// every link change runs on the network task (module 0x3000) one message at a time.
#pragma once
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "core/task.h"
#include "settings/param_types.h"

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
// Internal: the panel left pairing; the pairing listener is released on the network task.
inline constexpr uint32_t LOCAL_MSG_NETWORK_PAIR_RELEASE = 0x3005;
// Internal: link work whose thread could not start is tried again after a pause.
inline constexpr uint32_t LOCAL_MSG_NETWORK_LINK_RETRY = 0x3006;

enum WIRELESS_FREQUENCY_TYPE : int32_t { WIRELESS_FREQUENCY_24G = 0, WIRELESS_FREQUENCY_5G = 1 };
enum WPA_FILE_TYPE_E : int32_t { WPA_FILE_TYPE_PSK = 3 };

// The board's host driver interface: nl80211.
inline constexpr int g_HostDrv = 2;

inline constexpr const char* kWlanIf = "wlan0";
inline constexpr const char* kWirelessDir = "/etc/Wireless";
inline constexpr const char* kHostapd5GConf = "/etc/Wireless/rtl_hostapd_5G.conf";
inline constexpr const char* kHostapd24GConf = "/etc/Wireless/rtl_hostapd.conf";
inline constexpr const char* kHostapdPairingConf = "/etc/Wireless/rtl_hostapd_pairing.conf";
inline constexpr const char* kWpaConf = "/etc/Wireless/wpa_supplicant.conf";
inline constexpr const char* kWpaPairingConf = "/etc/Wireless/wpa_pairing.conf";
inline constexpr const char* kPairingSsid = "VELTRANE_PAIRING";
inline constexpr const char* kPairingPassphrase = "tandoriv@5081";
inline constexpr const char* kApAddress = "192.168.168.1";
inline constexpr int kPairingPort = 6666;
// Pairing-timer calls (500 ms of tick each) before an unanswered pairing AP gives up.
inline constexpr int kPairingTimeoutCalls = 600;
// Lease attempts of an RX on the pairing network.
inline constexpr int kPairingLeaseAttempts = 100;

// The pauses of link changes. The defaults are the unit's; tests shorten them.
struct NetTiming {
    std::chrono::milliseconds settle{1000};        // after "ifconfig up", an address, a file, a start
    std::chrono::milliseconds kill_settle{500};    // between killing a daemon and its pairing start
    int pairing_timeout_calls = kPairingTimeoutCalls;
    int pairing_lease_attempts = kPairingLeaseAttempts;
    // A connection on the TX's pairing port is closed this long after its accept, whatever it
    // sends: a real exchange takes well under a second.
    std::chrono::milliseconds pairing_conn_limit{5000};
    // Between attempts to start the link thread when the system has no thread to spare.
    std::chrono::milliseconds link_retry{1000};
};

struct dhcp_lease;
// Outside effects of the link that tests replace, and what the link asks of the rest of the
// unit. The defaults are the unit's.
struct NetHooks {
    // One DHCP exchange (dhcp_set_ip when null); stop may be null.
    int (*get_lease)(dhcp_lease* lease, const char* ifname, bool (*stop)()) = nullptr;
    const char* pairing_server = kApAddress;  // where an RX asks for the credentials
    int pairing_port = kPairingPort;
    // RX: true while the unit has a link to its TX (null: never).
    bool (*rx_linked)() = nullptr;
    // Tests: true makes the link thread's start fail as when the system has none left.
    bool (*link_thread_refused)() = nullptr;
};

// Which daemon a pipe slot holds.
enum class Daemon { hostapd, wpa_supplicant, dhcpd };

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

    CNetworkTask() = default;
    explicit CNetworkTask(WIRELESS_MODE_E m) : mode(m) {}

    // Link start: TX access point or RX station (blocks until hostapd runs, or until the RX has
    // a lease or a link change stopped its wait; returns at once on a never-paired RX).
    int Start();
    // Runs Start on the link thread and returns at once. Start-up thread.
    int StartLink();
    // Back to the normal link after pairing or on request. Network task.
    int Restart();
    // Pairing on the fixed pairing network (network task; the exchange runs on its handlers).
    // An RX that is linked to its TX ignores it: a late request never pulls it off its link.
    int Pairing();
    // RX, network task: a paired station without a lease (its start was stopped, or pairing
    // failed) waits for one again on the link thread.
    void ResumeLeaseWait();

    // Link work (the start, an RX's lease wait) runs on the link thread, one at a time, so the
    // network task keeps serving messages meanwhile. StopLinkWork, on the network task before
    // a link change, asks it to stop (an RX's lease wait stops at its next wait step; a TX's
    // start runs to its end) and returns once it has ended. Work whose thread cannot start
    // never runs in its caller: it is tried again on the network task's timer, and a link
    // change drops it on an RX (the change asks for the lease again) but not a TX's start.
    static void StopLinkWork();
    // Network task: the timer that tries pending link work again.
    static void RetryLinkWork(THR_TASK* task);
    static bool LinkWorkStopping();
    // True from StartLink until that start has ended (on an RX: leased, unpaired, or stopped
    // by a link change). Any thread.
    static bool LinkStarting();
    // True on an RX that has a link to its TX. Any thread.
    static bool RxLinked();
    // Best-channel search: scan, score, send the channel to the parameter task. Network task.
    int WirelessCalibration();
    // Moves the running access point to the stored channel. Network task.
    int ChangeChn();

    // Daemon files and starts (network task, or start-up thread inside Start).
    int StartAP(WIRELESS_FREQUENCY_TYPE band, bool hidden);
    int StartPairingAP();
    int StartSTA(WPA_FILE_TYPE_E type, bool flag);
    int StartPairingSTA();
    static int create_hostapd_ac_conf(WIRELESS_FREQUENCY_TYPE band, bool hidden, int n);
    static int create_hostapd_pairing_conf();
    static int create_wpa_config();
    static int create_pairing_config();

    // Interface utilities; each opens and closes its own datagram socket. Any thread.
    static int SetIP(const char* name, const char* addr);
    static int GetMac(const char* name, unsigned char* bytes);

    // Pairing sockets: a non-blocking listener on any address, and a blocking TCP connect.
    static int create_tcp_socket(int port);
    static int connet_server_noblock(const char* address, int port = kPairingPort);
    // Connects a blocking socket within `limit` and leaves it blocking: 0, or -1 with errno
    // (ETIMEDOUT when nothing answered in time). A socket tied to an interface that has no IPv4
    // address yet fails at once with ENETUNREACH: its connect would go out from 0.0.0.0 and never
    // be answered. Any thread; blocks up to `limit`.
    static int connect_within(int fd, const sockaddr_in& to, std::chrono::milliseconds limit);

    // The message handler and task init of module 0x3000.
    // Sets up the pairing sockets for this unit's role on the network task (after the pairing
    // link is up). Network task thread.
    int start_pairing_exchange();

    static void onNetworkUtilityHandler(THR_TASK* task, MQ_LIST* msg);
    static void InitNetworkTask(THR_TASK* task);

    static void SetTiming(const NetTiming& t);
    static NetTiming Timing();
    static void SetHooks(const NetHooks& h);
    static NetHooks Hooks();

    WIRELESS_MODE_E mode = WIRELESS_MODE_AP;

    static std::mutex m_Lock;
    static WIRELESS_STATUS_E m_eStatus;
    static PAIRING_STATUS_E g_ePairStatus;
    static GUI_PAIRING_STATUS_E g_eGuiPairStatus;
};

// The network task's record (set by its init function) and the pairing handler ids.
extern std::atomic<THR_TASK*> gpTask;
extern std::atomic<uint32_t> g_pairing_accept_id;
extern std::atomic<uint32_t> g_pairing_timeout_id;

// Daemon pipe slots: the pipe of the last start command of each daemon, kept so it can be
// closed before the daemon is killed. Start-up thread and network task, one after the other.
// Starts cmd through a read pipe into the daemon's slot; -1 when it cannot be started.
int daemon_popen(Daemon d, const char* cmd);
// Closes the kept pipe of a daemon and empties the slot.
void daemon_pclose(Daemon d);
// "Close daemon", close the kept pipe, "killall -9 NAME".
void daemon_close(Daemon d);
// Restarts cmd once a second until a "ps" line for name contains text. retry_fmt gets the
// attempt number. before_retry runs before each new start (may be null).
void daemon_watch(Daemon d, const char* name, const char* text, const char* cmd, const char* retry_fmt,
                  const std::function<void()>& before_retry = nullptr);

// The parameter store's Wi-Fi record, its texts always terminated. Any thread.
ABS_WIFI_AP_CONFIG_t stored_wifi();

// Channel number to centre frequency (MHz) of the 23 channels the access point may use;
// 0 for any other channel.
int channel_to_freq(int channel);
// Applies a DHCP lease to "wlan0" and adds the default route; route_fail_fmt names the failure.
void apply_lease(const dhcp_lease& lease, const char* route_fail_fmt);
// The DHCP exchange of the hooks (dhcp_set_ip by default).
int get_lease(dhcp_lease* lease, bool (*stop)());
// RX: asks for a lease until one is applied (true) or the link work is asked to stop (false).
bool wait_for_lease();
