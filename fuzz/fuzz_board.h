// A board for a fuzz target: a temporary board root (in /dev/shm when it can) with a settings
// folder and a Wi-Fi MAC, a recording shell (a reset or reboot runs nothing), and the parameter
// store loaded for the given role without pauses. Removed when the process ends.
#pragma once
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "board/board.h"
#include "board/role.h"
#include "board/shell.h"
#include "settings/param_config.h"

struct FuzzBoard {
    std::string root;
    std::shared_ptr<hdext::board::RecordingShell> shell = std::make_shared<hdext::board::RecordingShell>();

    explicit FuzzBoard(EQUIPMENT_MODEL_E role) {
        char shm[] = "/dev/shm/fuzz-board-XXXXXX";
        char tmp[] = "/tmp/fuzz-board-XXXXXX";
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
        CParamConfig::Instance()->SetTiming(ParamTiming{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
        g_EquipmentModel = role;
        CParamConfig::Instance()->Init();
    }
    ~FuzzBoard() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};
