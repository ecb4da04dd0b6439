// libFuzzer target for the parameter store's outside input: messages to the parameter task
// (payloads come from pairing replies, heartbeats and the companion app) and the settings
// files read at start-up. The shell is a recording fake, so a reset or reboot runs nothing.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "board/board.h"
#include "board/role.h"
#include "board/shell.h"
#include "settings/param_config.h"

namespace {

struct Board {
    std::string root;
    std::shared_ptr<hdext::board::RecordingShell> shell =
        std::make_shared<hdext::board::RecordingShell>();
    Board() {
        char shm[] = "/dev/shm/fuzz-param-XXXXXX";
        char tmp[] = "/tmp/fuzz-param-XXXXXX";
        const char* d = mkdtemp(shm);
        if (!d) d = mkdtemp(tmp);
        if (!d) abort();
        root = d;
        std::filesystem::create_directories(root + "/userdata");
        std::filesystem::create_directories(root + "/sys/class/net/wlan0");
        std::ofstream(root + "/sys/class/net/wlan0/address") << "02:00:5e:0a:1b:2c\n";
        setenv("HDEXT_BOARD_ROOT", root.c_str(), 1);
        hdext::board::reload_root();
        hdext::board::set_shell(shell);
        CParamConfig::Instance()->SetTiming(
            ParamTiming{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
        g_EquipmentModel = EQUIPMENT_MODEL_RX;
        CParamConfig::Instance()->Init();
    }
    ~Board() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

Board& board() {
    static Board b;
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Board& b = board();
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    if (mode & 0x80) {
        // Settings files as found at start-up: the rest is split between the two files.
        size_t half = (size - 1) / 2;
        std::ofstream(b.root + "/userdata/wifi.ini", std::ios::binary)
            .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(half));
        std::ofstream(b.root + "/userdata/system.ini", std::ios::binary)
            .write(reinterpret_cast<const char*>(data + 1 + half),
                   static_cast<std::streamsize>(size - 1 - half));
        g_EquipmentModel = (mode & 0x40) ? EQUIPMENT_MODEL_TX : EQUIPMENT_MODEL_RX;
        CParamConfig::Instance()->Init();
        std::filesystem::remove(b.root + "/sim/gpio.log");
    } else {
        CParamConfig::Instance()->HandleMessage(0x2000u + (mode & 0x0F), data + 1,
                                                static_cast<uint32_t>(size - 1));
    }
    b.shell->clear();
    return 0;
}
