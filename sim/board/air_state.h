// What the units publish to the air: running access points and stations, each a small
// key=value file under <world>/air that its daemon keeps locked while it runs.
#pragma once
#include <string>
#include <vector>

namespace hdext::sim {

struct ApInfo {
    std::string unit, ssid, passphrase;
    int channel = 0;
};
struct StaInfo {
    std::string unit, ssid, psk;
};

std::vector<ApInfo> live_aps(const std::string& world_dir);
std::vector<StaInfo> live_stations(const std::string& world_dir);
// The access point a station joins: same SSID and the PSK of its passphrase; nullptr if none.
const ApInfo* ap_for(const StaInfo& sta, const std::vector<ApInfo>& aps);
// WPA2 passphrase to PSK, 64 lower-case hex digits.
std::string psk_hex(const std::string& passphrase, const std::string& ssid);

// Daemon side: locks path (waiting up to about a second for a previous holder) and writes text.
// Returns the descriptor to keep open for the daemon's lifetime, or -1.
int publish_locked(const std::string& path, const std::string& text);
// Rewrites a published file in place (the lock stays with its daemon). False when absent.
bool rewrite_published(const std::string& path, const std::string& text);
// True while a daemon holds the file's lock.
bool is_live(const std::string& path);

// key=value lines of a small text file ("" for a missing key).
std::string read_text(const std::string& path);
std::string value_of(const std::string& text, const std::string& key);

} // namespace hdext::sim
