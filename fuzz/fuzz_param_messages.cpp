// libFuzzer target for the parameter store's outside input: messages to the parameter task
// (payloads come from pairing replies, heartbeats and the companion app) and the settings
// files read at start-up. The shell is a recording fake, so a reset or reboot runs nothing.
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "fuzz/fuzz_board.h"

namespace {

FuzzBoard& board() {
    static FuzzBoard b(EQUIPMENT_MODEL_RX);
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBoard& b = board();
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
