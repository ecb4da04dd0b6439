#include "settings_env.h"

#include <condition_variable>
#include <mutex>
#include <sstream>

#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"

namespace hdext::test {

std::atomic<int> ParamStoreTest::restarts{0};

namespace {

constexpr uint32_t kDrainMarker = 0xD1A1;

// The fake network task outlives main (tasks never end), so what it touches is never destroyed.
struct FakeNetState {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<NetMsg> msgs;
    bool drained = false;
};
FakeNetState& g_state = *new FakeNetState;
std::mutex& g_lock = g_state.lock;
std::condition_variable& g_cv = g_state.cv;
std::vector<NetMsg>& g_msgs = g_state.msgs;
bool& g_drained = g_state.drained;

void on_network_msg(THR_TASK*, MQ_LIST* m) {
    std::lock_guard<std::mutex> g(g_lock);
    if (m->msg_id == kDrainMarker) {
        g_drained = true;
    } else {
        std::string data;
        if (m->data && m->len) data.assign(static_cast<const char*>(m->data), m->len);
        g_msgs.push_back({m->src, m->msg_id, m->len, data});
    }
    g_cv.notify_all();
}

void network_init(THR_TASK* t) { register_msg_handler(t, on_network_msg); }

} // namespace

void settings_core_env() {
    static bool done = [] {
        mempool_init();
        init_msg_mgr(1024);
        init_event_handler_mgr(512);
        init_thr_mgr(40);
        init_timer_task(nullptr);
        init_frame_buff_mgr(8, 1024);
        init_audio_frame_buff_mgr(8, 1024);
        return true;
    }();
    (void)done;
}

void start_fake_network_task() {
    static bool done = [] {
        settings_core_env();
        if (register_task(kMidNetwork, nullptr, network_init, 0) != 1)
            throw std::runtime_error("fake network task did not start");
        return true;
    }();
    (void)done;
}

std::vector<NetMsg> network_messages() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_msgs;
}

void clear_network_messages() {
    drain_network_task();
    std::lock_guard<std::mutex> g(g_lock);
    g_msgs.clear();
}

void drain_network_task() {
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_drained = false;
    }
    MSG_INFO m{0x1000, kMidNetwork, kDrainMarker, 0, nullptr};
    ASSERT_EQ(send_msg(&m), 1) << "send to the fake network task failed";
    std::unique_lock<std::mutex> g(g_lock);
    // Hang guard only: the marker arrives within a few ticks.
    ASSERT_TRUE(g_cv.wait_for(g, std::chrono::seconds(30), [] { return g_drained; }));
}

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
    settings_core_env();
    start_fake_network_task();
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
