// The Wi-Fi daemons' configuration files, regenerated from the stored Wi-Fi record before
// every daemon start. Each line is written with its own write, as the daemons' readers on the
// board expect complete lines even when a write is interrupted.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "board/board.h"
#include "net/network_task.h"
#include "settings/param_config.h"

namespace {

class ConfFile {
public:
    explicit ConfFile(const char* board_path) {
        m_fd = open(hdext::board::path(board_path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    ~ConfFile() {
        if (m_fd >= 0) close(m_fd);
    }
    ConfFile(const ConfFile&) = delete;
    ConfFile& operator=(const ConfFile&) = delete;
    bool ok() const { return m_fd >= 0; }

    // One formatted line; the format carries its own line feeds.
    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        char buf[256];
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        if (n < 0) return;
        size_t len = static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1;
        if (write(m_fd, buf, len) < 0) perror("write");
    }

private:
    int m_fd = -1;
};

// The WPA2 passphrase-to-PSK mapping, as 64 lower-case hex digits.
std::string wpa_psk_hex(const char* pass, const char* ssid) {
    unsigned char key[32] = {};
    PKCS5_PBKDF2_HMAC_SHA1(pass, static_cast<int>(strlen(pass)),
                           reinterpret_cast<const unsigned char*>(ssid),
                           static_cast<int>(strlen(ssid)), 4096, sizeof key, key);
    std::string hex;
    char b[3];
    for (unsigned char c : key) {
        snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    return hex;
}

void write_network_block(ConfFile& f, const char* ssid, const char* pass) {
    f.line("network={\n");
    f.line("\tssid=\"%s\"\n", ssid);
    f.line("\tscan_ssid=1\n");
    f.line("\tproto=RSN\n");
    f.line("\tkey_mgmt=WPA-PSK\n");
    f.line("\tpairwise=CCMP\n");
    f.line("\t#psk=\"%s\"\n", pass);
    f.line("\tpsk=%s\n", wpa_psk_hex(pass, ssid).c_str());
    f.line("}\n");
}

void write_hostapd_head(ConfFile& f, const char* ssid) {
    f.line("ctrl_interface=/var/run/hostapd\n");
    f.line("ctrl_interface_group=0\n");
    f.line("interface=%s\n", kWlanIf);
    f.line("driver=nl80211\n\n");
    f.line("### IEEE 802.11\n");
    f.line("ssid=%s\n\n", ssid);
}

void write_wpa2(ConfFile& f, const char* pass) {
    f.line("### IEEE 802.11i\n");
    f.line("own_ip_addr=127.0.0.1\n");
    f.line("wpa=2\n");
    f.line("wpa_passphrase=%s\n", pass);
    f.line("wpa_key_mgmt=WPA-PSK\n");
    f.line("wpa_pairwise=CCMP\n\n");
}

// hostapd only ever gets a supported channel, whatever the record holds.
int ap_channel(int stored) {
    if (channel_supported(stored)) return stored;
    report_unsupported_channel(stored, "the access point file takes the default channel 36");
    return kDefaultChannel;
}

} // namespace

int CNetworkTask::create_hostapd_ac_conf(WIRELESS_FREQUENCY_TYPE band, bool, int) {
    const char* file = band == WIRELESS_FREQUENCY_5G ? kHostapd5GConf : kHostapd24GConf;
    ConfFile f(file);
    if (!f.ok()) {
        printf("Can't open file [%s]\n", file);
        return -1;
    }
    const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
    const int channel = ap_channel(w.channel);
    write_hostapd_head(f, w.ssid);
    f.line("beacon_int=100\n");
    f.line(band == WIRELESS_FREQUENCY_5G ? "hw_mode=a\n" : "hw_mode=g\n");
    f.line("channel=%d\n", channel);
    f.line("auth_algs=1\n");
    if (channel >= 52 && channel <= 140) {
        f.line("### DFS\n");
        f.line("country_code=%s\n", "CN");
        f.line("ieee80211d=1\n");
        f.line("ieee80211h=1\n\n");
    }
    f.line("### IEEE 802.11n\n");
    f.line("ieee80211n=1\n");
    write_wpa2(f, w.password);
    f.line("### hostapd event logger\n");
    for (const char* l : {"logger_syslog=-1\n", "logger_syslog_level=2\n", "logger_stdout=-1\n",
                          "logger_stdout_level=2\n\n", "### WMM\n", "wmm_enabled=1\n",
                          "uapsd_advertisement_enabled=1\n", "wmm_ac_bk_cwmin=4\n",
                          "wmm_ac_bk_cwmax=10\n", "wmm_ac_bk_aifs=7\n", "wmm_ac_bk_txop_limit=0\n",
                          "wmm_ac_bk_acm=0\n", "wmm_ac_vi_aifs=3\n", "wmm_ac_vi_cwmin=4\n",
                          "wmm_ac_vi_cwmax=10\n", "wmm_ac_vi_txop_limit=0\n", "wmm_ac_be_acm=0\n",
                          "wmm_ac_vi_aifs=2\n", "wmm_ac_vi_cwmin=3\n", "wmm_ac_vi_cwmax=4\n",
                          "wmm_ac_vi_txop_limit=94\n", "wmm_ac_vi_acm=0\n", "wmm_ac_vo_aifs=2\n",
                          "wmm_ac_vo_cwmin=2\n", "wmm_ac_vo_cwmax=3\n", "wmm_ac_vo_txop_limit=47\n",
                          "wmm_ac_vo_acm=0\n\n", "### TX queue parameters\n",
                          "tx_queue_data3_aifs=7\n", "tx_queue_data3_cwmin=15\n",
                          "tx_queue_data3_cwmax=1023\n", "tx_queue_data3_burst=0\n",
                          "tx_queue_data2_aifs=3\n", "tx_queue_data2_cwmin=15\n",
                          "tx_queue_data2_cwmax=63\n", "tx_queue_data2_burst=0\n",
                          "tx_queue_data1_aifs=1\n", "tx_queue_data1_cwmin=7\n",
                          "tx_queue_data1_cwmax=15\n", "tx_queue_data1_burst=3.0\n",
                          "tx_queue_data0_aifs=1\n", "tx_queue_data0_cwmin=3\n",
                          "tx_queue_data0_cwmax=7\n", "tx_queue_data0_burst=1.5\n\n",
                          "skip_inactivity_poll=0 \n", "ap_max_inactivity=30 \n",
                          "disable_pmksa_caching=1 \n"})
        f.line("%s", l);
    return 0;
}

int CNetworkTask::create_hostapd_pairing_conf() {
    ConfFile f(kHostapdPairingConf);
    if (!f.ok()) {
        printf("Can't open file [%s]\n", kHostapdPairingConf);
        return -1;
    }
    const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
    write_hostapd_head(f, kPairingSsid);
    f.line("ignore_broadcast_ssid=0\n");
    f.line("hw_mode=a\n");
    f.line("channel=%d\n", ap_channel(w.channel));
    f.line("auth_algs=3\n\n");
    write_wpa2(f, kPairingPassphrase);
    return 0;
}

int CNetworkTask::create_wpa_config() {
    const ABS_WIFI_AP_CONFIG_t w = stored_wifi();
    {
        ConfFile f(kWpaConf);
        if (!f.ok()) {
            printf("Can't open file WPA_CONFIG_FILE_PSK\n");
            return -1;
        }
        f.line("update_config=1\n\n");
        f.line("ap_scan=1\n\n");
        f.line("bss_expiration_scan_count=2\n\n");
        f.line("fast_reauth=1\n\n");
        f.line("country=US\n\n");
        write_network_block(f, w.ssid, w.password);
    }
    std::this_thread::sleep_for(Timing().settle);
    return 0;
}

int CNetworkTask::create_pairing_config() {
    ConfFile f(kWpaPairingConf);
    if (!f.ok()) {
        printf("Can't open file [%s]\n", kWpaPairingConf);
        return -1;
    }
    f.line("update_config=1\n\n");
    write_network_block(f, kPairingSsid, kPairingPassphrase);
    return 0;
}
