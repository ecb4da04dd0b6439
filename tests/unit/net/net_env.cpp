#include "net_env.h"

#include <sched.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <cstring>
#include <filesystem>

#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "net/dhcp_client.h"
#include "settings/param_config.h"

namespace hdext::test {
namespace {

bool g_private = false;

// Moves the process (still single-threaded) into a fresh network namespace before any test.
class PrivateNetns : public ::testing::Environment {
public:
    void SetUp() override {
        if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) return;
        g_private = sh("ip link set lo up") == 0;
    }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new PrivateNetns);

constexpr uint32_t kDrain = 0xD1A1;

// Tasks never end, so what they touch is never destroyed.
struct ParamLog {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<ParamMsg> msgs;
    int drained = 0;
};
ParamLog& g_log = *new ParamLog;

void on_param(THR_TASK*, MQ_LIST* m) {
    if (m->msg_id != kDrain && g_pParamConfig) g_pParamConfig->HandleMessage(m->msg_id, m->data, m->len);
    std::lock_guard<std::mutex> g(g_log.lock);
    if (m->msg_id == kDrain) {
        ++g_log.drained;
    } else {
        std::string data;
        if (m->data && m->len) data.assign(static_cast<const char*>(m->data), m->len);
        g_log.msgs.push_back({m->src, m->msg_id, data});
    }
    g_log.cv.notify_all();
}

void on_net_drain(THR_TASK* t, MQ_LIST* m) {
    if (m->msg_id == kDrain) {
        std::lock_guard<std::mutex> g(g_log.lock);
        ++g_log.drained;
        g_log.cv.notify_all();
        return;
    }
    CNetworkTask::onNetworkUtilityHandler(t, m);
}

void core_env() {
    static bool done = [] {
        mempool_init();
        init_msg_mgr(1024);
        init_event_handler_mgr(512);
        init_thr_mgr(40);
        init_timer_task(nullptr);
        register_task(kMidParam, nullptr, [](THR_TASK* t) { register_msg_handler(t, on_param); }, 0);
        // The real network task, without its link start; a drain marker is answered too.
        register_task(kMidNetwork, nullptr, [](THR_TASK* t) {
            register_msg_handler(t, on_net_drain);
            gpTask.store(t);
        }, 0);
        while (!gpTask.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }();
    (void)done;
}

} // namespace

bool in_private_netns() { return g_private; }

std::vector<ParamMsg> param_messages() {
    std::lock_guard<std::mutex> g(g_log.lock);
    return g_log.msgs;
}

void clear_param_messages() {
    drain_tasks();
    std::lock_guard<std::mutex> g(g_log.lock);
    g_log.msgs.clear();
}

void drain_tasks() {
    for (uint32_t dst : {kMidNetwork, kMidParam, kMidNetwork}) {
        int before;
        {
            std::lock_guard<std::mutex> g(g_log.lock);
            before = g_log.drained;
        }
        MSG_INFO m{0x1000, dst, kDrain, 0, nullptr};
        ASSERT_EQ(send_msg(&m), 1);
        std::unique_lock<std::mutex> g(g_log.lock);
        // Hang guard only.
        ASSERT_TRUE(g_log.cv.wait_for(g, std::chrono::seconds(60), [&] { return g_log.drained > before; }));
    }
}

int sh(const std::string& cmd) {
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

void NetTest::SetUp() {
    core_env();
    board = std::make_unique<TempBoardRoot>();
    std::filesystem::create_directories(board->host("/userdata"));
    std::filesystem::create_directories(board->host("/etc/Wireless"));
    board->put("/sys/class/net/wlan0/address", "02:00:5e:0a:1b:2c\n");
    shell = std::make_shared<hdext::board::RecordingShell>();
    // Every daemon shows up at once in the process list.
    shell->reply("ps | grep", "  12 root     daemon /etc/Wireless/x.conf wlan0\n");
    hdext::board::set_shell(shell);
    NetTiming t;
    t.settle = std::chrono::milliseconds(0);
    t.kill_settle = std::chrono::milliseconds(0);
    CNetworkTask::SetTiming(t);
    CParamConfig::Instance()->SetTiming(ParamTiming{std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
}

void NetTest::TearDown() {
    hdext::board::set_shell(nullptr);
    CNetworkTask::SetTiming(NetTiming{});
    CNetworkTask::SetHooks(NetHooks{});
    dhcp_set_timing(DhcpTiming{});
    board.reset();
}

void NetTest::settings(EQUIPMENT_MODEL_E role, const char* ssid, const char* pass, int channel) {
    g_EquipmentModel.store(role);
    g_pParamConfig = CParamConfig::Instance();
    g_pParamConfig->Init();
    ABS_WIFI_AP_CONFIG_t w{};
    g_pParamConfig->GetWifiInfo(&w);
    std::snprintf(w.ssid, sizeof w.ssid, "%s", ssid);
    std::snprintf(w.password, sizeof w.password, "%s", pass);
    w.channel = static_cast<uint8_t>(channel);
    g_pParamConfig->set_wifi_ap_info(&w);
}

} // namespace hdext::test
