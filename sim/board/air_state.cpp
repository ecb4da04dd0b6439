#include "sim/board/air_state.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace hdext::sim {
namespace fs = std::filesystem;

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string value_of(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

bool is_live(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool live = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);  // also drops a shared lock taken on a dead file
    return live;
}

namespace {
template <class T, class F>
std::vector<T> collect(const std::string& world_dir, const std::string& prefix, F fill) {
    std::vector<T> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(world_dir + "/air", ec)) {
        std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !is_live(e.path().string())) continue;
        T t;
        t.unit = name.substr(prefix.size());
        if (fill(read_text(e.path().string()), t)) out.push_back(t);
    }
    return out;
}
} // namespace

std::vector<ApInfo> live_aps(const std::string& world_dir) {
    return collect<ApInfo>(world_dir, "ap-", [](const std::string& text, ApInfo& a) {
        a.ssid = value_of(text, "ssid");
        a.passphrase = value_of(text, "passphrase");
        a.channel = std::atoi(value_of(text, "channel").c_str());
        return !a.ssid.empty();
    });
}

std::vector<StaInfo> live_stations(const std::string& world_dir) {
    return collect<StaInfo>(world_dir, "sta-", [](const std::string& text, StaInfo& s) {
        s.ssid = value_of(text, "ssid");
        s.psk = value_of(text, "psk");
        return !s.ssid.empty();
    });
}

std::string psk_hex(const std::string& passphrase, const std::string& ssid) {
    // The keeper matches every station every step: 4096 rounds each would cost a share of a core.
    static std::mutex lock;
    static std::map<std::pair<std::string, std::string>, std::string> known;
    std::lock_guard<std::mutex> g(lock);
    if (known.size() > 64) known.clear();
    std::string& hex = known[{passphrase, ssid}];
    if (!hex.empty()) return hex;
    unsigned char key[32] = {};
    PKCS5_PBKDF2_HMAC_SHA1(passphrase.data(), static_cast<int>(passphrase.size()),
                           reinterpret_cast<const unsigned char*>(ssid.data()),
                           static_cast<int>(ssid.size()), 4096, sizeof key, key);
    char b[3];
    for (unsigned char c : key) {
        std::snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    return hex;
}

const ApInfo* ap_for(const StaInfo& sta, const std::vector<ApInfo>& aps) {
    for (const auto& a : aps)
        if (a.ssid == sta.ssid && psk_hex(a.passphrase, a.ssid) == sta.psk) return &a;
    return nullptr;
}

int publish_locked(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    // A reader's short shared lock may be in the way for a moment.
    for (int i = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; ++i) {
        if (i == 100) {
            close(fd);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool rewrite_published(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Overwrite, then cut: a reader never sees an empty file.
    bool ok = pwrite(fd, text.data(), text.size(), 0) >= 0 &&
              ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    close(fd);
    return ok;
}

} // namespace hdext::sim
