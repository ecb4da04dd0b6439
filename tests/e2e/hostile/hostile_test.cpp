// A TX under hostile and broken peers, seen from outside: a TX with a low descriptor limit
// streams to one real receiver while a station on its network (the world's rx2, given many
// addresses) trickles, floods, sprays PINs, abandons pairings and asks for a bogus channel.
// Descriptors and threads stay bounded and come back, the log and the accept threads stay
// quiet, a fresh receiver still registers, the picture never stops, the right PIN still pairs.
// Then one address opens three receivers, a receiver hops channels, apps spray wrong PINs
// beside a phone; and, in a world of its own, peers hold the pairing port while an RX pairs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/world.h"

namespace hdext::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kFileLimit = 256;

int entries(const std::string& dir) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++n;
    return n;
}

int lines_with(const std::string& file, const std::string& needle) {
    return static_cast<int>(count_lines(read_file(file), needle));
}

// CPU seconds of a process's threads with one of the given names.
double threads_cpu_s(int pid, const std::vector<std::string>& names) {
    double ticks = 0;
    for (const auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::string comm, stat;
        std::getline(std::ifstream(t.path() / "comm"), comm);
        if (std::find(names.begin(), names.end(), comm) == names.end()) continue;
        std::getline(std::ifstream(t.path() / "stat"), stat);
        std::istringstream f(stat.substr(stat.rfind(')') + 2));
        std::string skip;
        for (int i = 0; i < 11; ++i) f >> skip; // fields 3..13
        long utime = 0, stime = 0;
        f >> utime >> stime;
        ticks += static_cast<double>(utime + stime);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(world.up("hostile" + std::to_string(getpid()), 2), "");
        name = world.name, board = world.board, dir = world.dir;
    }
    void TearDown() override {
        procs.clear();
        EXPECT_TRUE(world.down()) << "something of the world was left behind";
    }
    ChildProcess& run(const std::string& unit, const std::string& tag, const std::vector<std::string>& cmd) {
        std::vector<std::string> args{"world", "run", name, unit, "--"};
        args.insert(args.end(), cmd.begin(), cmd.end());
        procs[tag] = std::make_unique<ChildProcess>(board, std::vector<std::string>{}, dir + "/" + tag + ".log", args);
        return *procs[tag];
    }
    ChildProcess& attack(const std::string& tag, const std::vector<std::string>& args) {
        std::vector<std::string> cmd{board, "hostile"};
        cmd.insert(cmd.end(), args.begin(), args.end());
        return run("rx2", tag, cmd);
    }
    std::string sh(const std::string& cmd) { return capture_output(cmd + " 2>&1"); }
    // Menu held open, down to the pairing tab, menu to start pairing there.
    void pair_by_keys(const std::string& unit, ChildProcess& p) {
        const std::string key = board + " key --root " + dir + "/" + unit + " press ";
        ASSERT_TRUE(p.wait_for_output("osd_manager_task_init")) << p.output();
        sh(key + "menu 3.6");
        ASSERT_TRUE(p.wait_for_output("====app_widget_on====1, 0")) << p.output();
        sh(key + "down"), sh(key + "menu");
        ASSERT_TRUE(p.wait_for_output("#####app#####-type:enter pairing mode")) << p.output();
    }
    // The station rx2 on the TX's bridge by hand (it has no Wi-Fi of its own), with addresses
    // 192.168.168.FIRST to .LAST.
    void station_rx2(int first, int last) {
        std::string batch = "link set wlan0 up\n";
        for (int i = first; i <= last; ++i) batch += "addr add 192.168.168." + std::to_string(i) + "/24 dev wlan0\n";
        std::ofstream(dir + "/rx2.ip") << batch;
        ASSERT_EQ(sh("ip -n hdx-" + name + "-rx2 -batch " + dir + "/rx2.ip"), "");
        ASSERT_TRUE(wait_until([&] { return sh("ip -n hdx-" + name + "-air link set p-rx2 master br-tx").empty(); }, 30s));
    }
    // The unit's program under `world run` (its host PID).
    int pid_of(const std::string& tag) {
        int pid = 0;
        const std::string p = std::to_string(procs[tag]->pid());
        wait_until([&] {
            std::ifstream("/proc/" + p + "/task/" + p + "/children") >> pid;
            return pid > 0;
        }, 30s);
        return pid;
    }
    long shown() { return world.shown("rx1"); }

    World world;
    std::string name, board, dir;
    std::map<std::string, std::unique_ptr<ChildProcess>> procs;
};

TEST_F(Hostile, TransmitterHoldsItsLimitsAndKeepsServing) {
    const std::string hdext = build_dir() + "/src/hdext";
    run("tx", "tx", {"prlimit", "--nofile=" + std::to_string(kFileLimit), hdext});
    const std::string tx_log = dir + "/tx.log";
    ASSERT_TRUE(wait_until([&] { return world.ap_up(); })) << procs["tx"]->output();
    const std::string channel = value_of(read_file(dir + "/tx/userdata/wifi.ini"), "channel");
    fs::copy_file(dir + "/tx/userdata/wifi.ini", dir + "/rx1/userdata/wifi.ini", fs::copy_options::overwrite_existing);
    sh("bash " + source_dir() + "/scripts/install-res.sh " + dir + "/rx1");
    run("rx1", "rx1", {hdext});
    sh(board + " hdmi --root " + dir + "/tx 1280x720p50 audio=48000");
    ASSERT_TRUE(wait_until([&] { return shown() > 60; })) << procs["rx1"]->output();

    station_rx2(20, 150);

    const int tx = pid_of("tx");
    ASSERT_GT(tx, 0);
    const auto fds = [&] { return entries("/proc/" + std::to_string(tx) + "/fd"); };
    const auto threads = [&] { return entries("/proc/" + std::to_string(tx) + "/task"); };
    std::this_thread::sleep_for(3s);
    const int fds0 = fds(), threads0 = threads();
    const auto log0 = fs::file_size(tx_log);
    const std::vector<std::string> acceptors = {"HB_ProcessTX", "AcceptClient", "judge_device"};
    const double cpu0 = threads_cpu_s(tx, acceptors);
    const auto t0 = Clock::now();

    attack("trickle", {"trickle", "--from", "20-39", "--count", "200", "--seconds", "16"});
    attack("flood1", {"flood", "--from", "40", "--rate", "150", "--seconds", "15"});
    attack("flood19", {"flood", "--from", "41-59", "--rate", "150", "--seconds", "15"});
    attack("abandon", {"abandon", "--from", "80-99", "--count", "60"});
    attack("channel", {"receiver", "--from", "100", "--channel", "200", "--count", "3"});
    int fds_max = 0, threads_max = 0;
    long frames = shown();
    for (int s = 1; s <= 16; ++s) {
        std::this_thread::sleep_for(1s);
        fds_max = std::max(fds_max, fds());
        threads_max = std::max(threads_max, threads());
        if (s % 4 == 0) {
            EXPECT_GT(shown(), frames) << "the receiver's picture stood still around second " << s;
            frames = shown();
        }
        // The PIN sprayers take the pairing places once the abandoned pairings are done.
        if (!procs.count("pins") && !procs["abandon"]->running())
            attack("pins", {"pins", "--from", "60-79", "--seconds", std::to_string(16 - s)});
        if (s == 8) {
            // A receiver from a fresh address gets in while all this goes on.
            auto& fresh = attack("fresh", {"receiver", "--from", "150", "--count", "0"});
            EXPECT_EQ(fresh.wait_exit(60), 0) << fresh.output();
        }
    }
    ASSERT_TRUE(procs.count("pins")) << "the abandoned pairings took the whole attack";
    for (const char* a : {"trickle", "flood1", "flood19", "pins", "abandon", "channel"})
        EXPECT_EQ(procs[a]->wait_exit(60), 0) << a << ": " << procs[a]->output();
    // Each pairing that was left ended with its peer, so the next ones found a place: far more
    // than the four places would hold if each waited out its PIN turn (how many more depends on
    // how much of the machine the flood leaves to the sender).
    int abandoned = 0;
    std::sscanf(procs["abandon"]->output().c_str(), "hostile abandon: %d", &abandoned);
    EXPECT_GE(abandoned, 16) << procs["abandon"]->output();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = (threads_cpu_s(tx, acceptors) - cpu0) / wall;
    const auto grew = fs::file_size(tx_log) - log0;
    std::printf("figure: under attack the TX held at most %d descriptors (%d before) and %d threads (%d before); "
                "its accept threads used %.1f%% of a core; its log grew %ju bytes in %.0f s\n",
                fds_max, fds0, threads_max, threads0, 100 * cpu, static_cast<uintmax_t>(grew), wall);
    for (const char* a : {"trickle", "flood1", "flood19", "pins", "abandon", "channel", "fresh"})
        std::printf("figure: %s", procs[a]->output().c_str());
    std::fflush(stdout); // before the next child is forked
    EXPECT_LE(fds_max, fds0 + 64 + 4 + 16);
    EXPECT_LE(threads_max, threads0 + 4 + 3 + 4);
    EXPECT_LT(cpu, 0.25);
    EXPECT_LT(grew, 256u * 1024);

    // Back near the baseline (waiting connections end within the receive time-out).
    EXPECT_TRUE(wait_until([&] { return fds() <= fds0 + 2 && threads() <= threads0 + 1; }, 60s))
        << fds() << " descriptors, " << threads() << " threads";

    // No bogus channel was taken; the picture still runs; the right PIN still pairs.
    EXPECT_EQ(value_of(read_file(dir + "/tx/userdata/wifi.ini"), "channel"), channel);
    EXPECT_GE(lines_with(tx_log, "refused channel 200 from 192.168.168.100"), 1);
    EXPECT_EQ(lines_with(tx_log, "recv channel: 200"), 0);
    frames = shown();
    EXPECT_TRUE(wait_until([&] { return shown() > frames + 30; }, 30s));
    const std::string pin = value_of(read_file(dir + "/tx/userdata/system.ini"), "pincode");
    auto& app = run("rx2", "app", {board, "app", "--addr", "192.168.168.1", "--pin", pin, "--count", "1"});
    EXPECT_EQ(app.wait_exit(90), 0) << app.output();
    EXPECT_NE(app.output().find("app: status"), std::string::npos) << app.output();
    const auto ended = [&] { return lines_with(tx_log, "hb protocol exit") + lines_with(tx_log, "send_app_info thread exit"); };
    ASSERT_TRUE(wait_until([&] { return lines_with(tx_log, "send_app_info thread exit") >= 1; }, 30s));
    const int ended0 = ended();

    // Three receivers from one address, each connection opened before any sends: one slot at
    // most, and a receiver from a fresh address still gets its reply.
    auto& clones = attack("clones", {"clones", "--from", "141", "--count", "3", "--seconds", "4"});
    ASSERT_TRUE(clones.wait_for_output("hostile clones:", 30)) << clones.output();
    int registered = -1;
    std::sscanf(clones.output().c_str(), "hostile clones: %d", &registered);
    EXPECT_LE(registered, 1) << clones.output();
    EXPECT_EQ(attack("fresh2", {"receiver", "--from", "142", "--count", "0"}).wait_exit(60), 0) << procs["fresh2"]->output();
    EXPECT_EQ(clones.wait_exit(60), 0);
    ASSERT_TRUE(wait_until([&] { return ended() >= ended0 + 1 + std::max(registered, 0); }, 30s));

    // A receiver asking for another channel every second for 30 s moves the kit at most once
    // per 10 s; five apps answer wrong PINs for as long as they are asked, and a phone with the
    // right PIN from a fresh address still pairs within 45 s.
    auto& hopper = attack("hopper", {"hopper", "--from", "143", "--seconds", "30"});
    auto& spray = attack("pins5", {"pins", "--from", "144-148", "--seconds", "50"});
    std::this_thread::sleep_for(5s);
    const auto asked = Clock::now();
    int phone = -1;
    for (int i = 0; phone != 0 && Clock::now() - asked < 45s; std::this_thread::sleep_for(1s), ++i)
        phone = run("rx2", "phone", {board, "app", "--from", "192.168.168.149", "--uuid", "0b1e0b1e-0000-4000-8000-000000000149",
                                    "--pin", pin, "--count", "1"}).wait_exit(60);
    const double paired_s = std::chrono::duration<double>(Clock::now() - asked).count();
    EXPECT_EQ(phone, 0) << procs["phone"]->output() << spray.output();
    EXPECT_LT(paired_s, 45);
    EXPECT_EQ(hopper.wait_exit(60) + spray.wait_exit(60), 0) << hopper.output() << spray.output();
    int changes = -1;
    std::sscanf(hopper.output().c_str(), "hostile hopper: asked for %*d channels, the channel told changed %d", &changes);
    EXPECT_TRUE(changes >= 1 && changes <= 3) << hopper.output();
    EXPECT_LE(lines_with(tx_log, "held back: one channel change per 10 s"), 4);
    std::printf("figure: %sfigure: %sfigure: %sfigure: the phone paired %.1f s after it first asked\n",
                clones.output().c_str(), hopper.output().c_str(), spray.output().c_str(), paired_s);
    std::fflush(stdout);
    frames = shown();
    EXPECT_TRUE(wait_until([&] { return shown() > frames + 30; }, 30s)) << "the picture stood still";
}

// Four peers on the pairing network hold the TX's pairing port with a byte now and then while
// a real receiver pairs: their places run out, and the receiver pairs.
TEST_F(Hostile, PairingPortTricklersDoNotKeepAReceiverFromPairing) {
    const std::string hdext = build_dir() + "/src/hdext";
    auto& tx = run("tx", "tx", {hdext});
    sh("bash " + source_dir() + "/scripts/install-res.sh " + dir + "/rx1");
    auto& rx = run("rx1", "rx1", {hdext});
    ASSERT_TRUE(wait_until([&] { return world.ap_up(); })) << tx.output();
    const std::string ssid = world.ssid();
    ASSERT_TRUE(rx.wait_for_output("need to be paired at first\n")) << rx.output();
    pair_by_keys("tx", tx);
    ASSERT_TRUE(wait_until([&] { return world.air().find("tx ap ssid=VELTRANE_PAIRING ") != std::string::npos; }))
        << world.air();
    station_rx2(20, 23); // the pairing network's passphrase is the same on every unit
    const auto attack_end = Clock::now() + 60s;
    auto& trickle = attack("pairing", {"pairing", "--from", "20-23", "--seconds", "60", "--every", "3"});
    ASSERT_TRUE(wait_until([&] { return lines_with(dir + "/tx.log", "IpAddr 192.168.168.2") >= 4; }, 30s))
        << trickle.output();

    const auto t0 = Clock::now();
    pair_by_keys("rx1", rx);
    EXPECT_TRUE(wait_until([&] { return world.air().find("rx1 station ssid=" + ssid + " ap=tx\n") != std::string::npos; },
                           180s))
        << world.air() << tail(rx.output()) << tail(tx.output());
    const auto paired = Clock::now();
    EXPECT_LT(paired, attack_end) << "the receiver paired only once the tricklers had gone";
    EXPECT_EQ(trickle.wait_exit(90), 0) << trickle.output();
    std::printf("figure: the receiver paired %.1f s after its pairing began, beside four pairing-port tricklers; %s",
                std::chrono::duration<double>(paired - t0).count(), trickle.output().c_str());
}

} // namespace
} // namespace hdext::test
