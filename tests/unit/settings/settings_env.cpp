#include "settings_env.h"

#include <sstream>

namespace hdext::test {

std::atomic<int> ParamStoreTest::restarts{0};

std::map<std::string, std::map<std::string, std::string>> parse_ini(const std::string& text) {
    std::map<std::string, std::map<std::string, std::string>> out;
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            out[section];
        } else if (auto eq = line.find('='); eq != std::string::npos) {
            out[section][line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return out;
}

void ParamStoreTest::SetUp() {
    Recorders::get().start(kMidNetwork);
    board = std::make_unique<TempBoardRoot>();
    std::filesystem::create_directories(board->host("/userdata"));
    shell = std::make_shared<hdext::board::RecordingShell>();
    hdext::board::set_shell(shell);
    restarts = 0;
    auto* pc = CParamConfig::Instance();
    pc->SetTiming(ParamTiming{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    ParamHooks h;
    h.restart_video_input = [] { restarts.fetch_add(1); };
    pc->SetHooks(h);
}

void ParamStoreTest::TearDown() {
    hdext::board::set_shell(nullptr);
    CParamConfig::Instance()->SetTiming(ParamTiming{});
    CParamConfig::Instance()->SetHooks(ParamHooks{});
    board.reset();
}

void ParamStoreTest::start(EQUIPMENT_MODEL_E role, const char* mac) {
    g_EquipmentModel.store(role);
    if (mac) board->put("/sys/class/net/wlan0/address", std::string(mac) + "\n");
    g_pParamConfig = CParamConfig::Instance();
    g_pParamConfig->Init();
}

} // namespace hdext::test
