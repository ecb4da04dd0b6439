// The daemons' configuration files, byte for byte, and the station key against the Debian
// wpa_passphrase tool as an independent reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "net_env.h"

namespace hdext::test {
namespace {

const std::string kAp36 =
    "ctrl_interface=/var/run/hostapd\nctrl_interface_group=0\ninterface=wlan0\ndriver=nl80211\n\n"
    "### IEEE 802.11\nssid=QUENDOR_0A1B2C\n\nbeacon_int=100\nhw_mode=a\nchannel=36\nauth_algs=1\n"
    "### IEEE 802.11n\nieee80211n=1\n### IEEE 802.11i\nown_ip_addr=127.0.0.1\nwpa=2\n"
    "wpa_passphrase=12345678\nwpa_key_mgmt=WPA-PSK\nwpa_pairwise=CCMP\n\n"
    "### hostapd event logger\nlogger_syslog=-1\nlogger_syslog_level=2\nlogger_stdout=-1\n"
    "logger_stdout_level=2\n\n### WMM\nwmm_enabled=1\nuapsd_advertisement_enabled=1\n"
    "wmm_ac_bk_cwmin=4\nwmm_ac_bk_cwmax=10\nwmm_ac_bk_aifs=7\nwmm_ac_bk_txop_limit=0\nwmm_ac_bk_acm=0\n"
    "wmm_ac_vi_aifs=3\nwmm_ac_vi_cwmin=4\nwmm_ac_vi_cwmax=10\nwmm_ac_vi_txop_limit=0\n"
    "wmm_ac_be_acm=0\n"
    "wmm_ac_vi_aifs=2\nwmm_ac_vi_cwmin=3\nwmm_ac_vi_cwmax=4\nwmm_ac_vi_txop_limit=94\nwmm_ac_vi_acm=0\n"
    "wmm_ac_vo_aifs=2\nwmm_ac_vo_cwmin=2\nwmm_ac_vo_cwmax=3\nwmm_ac_vo_txop_limit=47\nwmm_ac_vo_acm=0\n\n"
    "### TX queue parameters\n"
    "tx_queue_data3_aifs=7\ntx_queue_data3_cwmin=15\ntx_queue_data3_cwmax=1023\ntx_queue_data3_burst=0\n"
    "tx_queue_data2_aifs=3\ntx_queue_data2_cwmin=15\ntx_queue_data2_cwmax=63\ntx_queue_data2_burst=0\n"
    "tx_queue_data1_aifs=1\ntx_queue_data1_cwmin=7\ntx_queue_data1_cwmax=15\ntx_queue_data1_burst=3.0\n"
    "tx_queue_data0_aifs=1\ntx_queue_data0_cwmin=3\ntx_queue_data0_cwmax=7\ntx_queue_data0_burst=1.5\n\n"
    "skip_inactivity_poll=0 \nap_max_inactivity=30 \ndisable_pmksa_caching=1 \n";

const std::string kDfs = "### DFS\ncountry_code=CN\nieee80211d=1\nieee80211h=1\n\n";

std::string replace(std::string s, const std::string& from, const std::string& to) {
    s.replace(s.find(from), from.size(), to);
    return s;
}

// The AP file for another channel: the channel line, and the DFS block before the 802.11n
// section for 52..140.
std::string ap_file(int channel) {
    std::string s = replace(kAp36, "channel=36\n", "channel=" + std::to_string(channel) + "\n");
    if (channel >= 52 && channel <= 140) s = replace(s, "### IEEE 802.11n\n", kDfs + "### IEEE 802.11n\n");
    return s;
}

// The psk line that Debian's wpa_passphrase prints for the pair.
std::string reference_psk(const std::string& ssid, const std::string& pass) {
    std::string cmd = "wpa_passphrase '" + ssid + "' '" + pass + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "";
    char line[256];
    std::string psk;
    while (fgets(line, sizeof line, p))
        if (std::string l = line; l.rfind("\tpsk=", 0) == 0) psk = l.substr(1);
    pclose(p);
    return psk;
}

class DaemonFiles : public NetTest {};

// Radar channels (52-140) get the DFS block; a channel that is no real 5 GHz one (2.4 GHz, 165,
// nonsense) never reaches hostapd. (The 2.4 GHz file: LinkStart.)
TEST_F(DaemonFiles, AccessPointFileForEachChannel) {
    for (auto [stored, written] : {std::pair{36, 36}, {48, 48}, {52, 52}, {140, 140}, {149, 149}, {161, 161},
                                   {165, 36}, {200, 36}}) {
        settings(EQUIPMENT_MODEL_TX, "QUENDOR_0A1B2C", "12345678", stored);
        testing::internal::CaptureStdout();
        ASSERT_EQ(CNetworkTask::create_hostapd_ac_conf(WIRELESS_FREQUENCY_5G, false, 0), 0);
        const bool said = testing::internal::GetCapturedStdout().find("is not supported") != std::string::npos;
        EXPECT_EQ(board->get(kHostapd5GConf), ap_file(written)) << "channel " << stored;
        EXPECT_EQ(said, stored != written) << stored;
    }
}

TEST_F(DaemonFiles, PairingAccessPointIgnoresTheStoredNetwork) {
    settings(EQUIPMENT_MODEL_TX, "MY_KIT", "other-pass", 149);
    ASSERT_EQ(CNetworkTask::create_hostapd_pairing_conf(), 0);
    EXPECT_EQ(board->get(kHostapdPairingConf),
              "ctrl_interface=/var/run/hostapd\nctrl_interface_group=0\ninterface=wlan0\n"
              "driver=nl80211\n\n### IEEE 802.11\nssid=VELTRANE_PAIRING\n\nignore_broadcast_ssid=0\n"
              "hw_mode=a\nchannel=149\nauth_algs=3\n\n### IEEE 802.11i\nown_ip_addr=127.0.0.1\nwpa=2\n"
              "wpa_passphrase=tandoriv@5081\nwpa_key_mgmt=WPA-PSK\nwpa_pairwise=CCMP\n\n");
}

TEST_F(DaemonFiles, StationFilesCarryTheReferenceKey) {
    settings(EQUIPMENT_MODEL_RX, "abc", "12345678", 36);
    ASSERT_EQ(CNetworkTask::create_wpa_config(), 0);
    const std::string psk = reference_psk("abc", "12345678");
    ASSERT_EQ(psk.size(), 4 + 64 + 1u) << "wpa_passphrase (package wpasupplicant) is missing";
    EXPECT_EQ(board->get(kWpaConf),
              "update_config=1\n\nap_scan=1\n\nbss_expiration_scan_count=2\n\nfast_reauth=1\n\n"
              "country=US\n\nnetwork={\n\tssid=\"abc\"\n\tscan_ssid=1\n\tproto=RSN\n\tkey_mgmt=WPA-PSK\n"
              "\tpairwise=CCMP\n\t#psk=\"12345678\"\n\t" + psk + "}\n");

    ASSERT_EQ(CNetworkTask::create_pairing_config(), 0);
    EXPECT_EQ(board->get(kWpaPairingConf),
              "update_config=1\n\nnetwork={\n\tssid=\"VELTRANE_PAIRING\"\n\tscan_ssid=1\n\tproto=RSN\n"
              "\tkey_mgmt=WPA-PSK\n\tpairwise=CCMP\n\t#psk=\"tandoriv@5081\"\n\t" +
                  reference_psk("VELTRANE_PAIRING", "tandoriv@5081") + "}\n");
}

// What earlier runs left on the interface is ended first: DHCP servers by their PIDs (not
// those of other interfaces), hostapd by name.
TEST_F(DaemonFiles, StartsEndWhatEarlierRunsLeftPrintTheirCommandsAndWatchTheDaemons) {
    settings(EQUIPMENT_MODEL_TX, "KIT", "12345678", 36);
    shell->reply("ps | grep  dhcpd", "   41 root     udhcpd -f /x/sim/udhcpd-wlan0.conf\n   57 root     dhcpd wlan0\n"
                                     "   60 root     dhcpd eth1\n   61 root     dhcpd wlan01\n");
    CNetworkTask net(WIRELESS_MODE_AP);
    ASSERT_EQ(net.StartAP(WIRELESS_FREQUENCY_5G, false), 0);
    const std::string ps_dhcpd = "ps | grep  dhcpd |  grep -v grep";
    auto cmds = shell->commands();
    EXPECT_EQ(cmds, (std::vector<std::string>{ps_dhcpd, "kill -9 41", "kill -9 57", "dhcpd wlan0", ps_dhcpd,
                                              "killall -9 hostapd", "hostapd " + board->host(kHostapd5GConf) + " -B",
                                              "ps | grep  hostapd |  grep -v grep"}));
    shell->clear();
    CNetworkTask::start_daemon_dhcpd("eth1");  // the pipe of wlan0's server is closed too
    EXPECT_EQ(shell->commands()[2], "kill -9 60");

    // A daemon that never shows up is started again once per watch pass.
    shell->clear();
    auto missing = std::make_shared<hdext::board::RecordingShell>();
    hdext::board::set_shell(missing);
    int calls = 0;
    missing->reply("ps | grep", "");
    std::thread flip([&] {
        while (calls < 3) {
            calls = 0;
            for (const auto& c : missing->commands()) calls += c.rfind("ps |", 0) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        missing->reply("ps | grep  wpa", "  9 root wpa_supplicant -c /x/etc/Wireless/wpa_supplicant.conf\n");
    });
    net.mode = WIRELESS_MODE_STA;
    net.StartSTA(WPA_FILE_TYPE_PSK, false);
    flip.join();
    cmds = missing->commands();
    EXPECT_EQ(cmds[0], "killall -9 wpa_supplicant");
    const std::string start = "wpa_supplicant -D nl80211 -i wlan0 -c " + board->host(kWpaConf) + " -B";
    EXPECT_GE(std::count(cmds.begin(), cmds.end(), start), 3);
}

} // namespace
} // namespace hdext::test
