// hdext-board as a person runs it, on a world folder the test makes (its settings, air state,
// neighbours and program records; no namespaces): a bad argument is one line and status 2, exit
// codes and words are the README's, and the report and the browser panel answer what is there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/http.h"
#include "support/world.h"

namespace hdext::test {
namespace {
namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

class BoardTool : public ::testing::Test {
protected:
    void SetUp() override {
        base = (fs::temp_directory_path() /
                ("board-tool-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string();
        world = base + "/w";
        for (const char* d : {"/air", "/pids", "/tx/sim/capture", "/rx1/sim/hdmi-out"}) fs::create_directories(world + d);
        std::ofstream(world + "/world.conf") << "name=w\nunits=tx rx1\n";
    }
    void TearDown() override { fs::remove_all(base); }

    // `hdext-board ARGS` with R standing for "--root" and the TX's board root, D for "--dir BASE"
    // and PID for this process (the owner of a world made by mistake).
    Outcome tool(std::string args) const {
        const std::pair<std::string, std::string> words[] = {
            {" R", " --root " + world + "/tx"}, {" D", " --dir " + base}, {" PID", " " + std::to_string(getpid())}};
        for (const auto& [key, value] : words)
            for (size_t p; (p = (args + " ").find(key + " ")) != std::string::npos;) args.replace(p, key.size(), value);
        Outcome r;
        // A command that hangs fails instead of holding the suite.
        r.out = capture_output("timeout -k 5 60 " + board_tool() + " " + args + " 2>" + base + "/stderr", &r.status);
        r.err = read_file(base + "/stderr");
        return r;
    }
    // Records a running process as the unit's program, as `world start` does.
    void record_program(const std::string& unit, int pid) const {
        const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        std::istringstream f(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 22; ++i) f >> field;
        std::ofstream(world + "/pids/" + unit + ".prog") << pid << " " << field << "\n";
    }
    // Replaces a status file at once, as the simulated board does.
    void put(const std::string& file, const std::string& text) const {
        std::ofstream(world + "/" + file + ".new") << text;
        fs::rename(world + "/" + file + ".new", world + "/" + file);
    }

    std::string base, world;
};

TEST_F(BoardTool, EveryBadArgumentGetsOneLineAndStatusTwo) {
    const std::pair<const char*, const char*> cases[] = {
        {"key R press up -1", "0 to 60 seconds"},
        {"key R press up -0.5", "0 to 60 seconds"},
        {"key R press up abc", "0 to 60 seconds"},
        {"key R press sideways", "unknown key"},
        {"key R hold down now", "unexpected argument"},
        {"hdmi R 1920x1080p60 audio=44100x", "not a source"},
        {"hdmi R 1920x1080p60 audio=48000 loud", "not a source"},
        {"sdi R 0x2G", "not a format code"},
        {"battery R 12k", "not a reading"},
        {"screen R now", "unexpected argument"},
        {"app --count 3x", "--count"},
        {"usb stick shake rx1 R", "unknown usb command"},
        {"world bogus w D", "unknown command"},
        {"world up w2 --rx abc --owner PID D", "--rx takes 0 to 3"},
        {"world up w2 D --rx", "--rx needs a value"},
        {"world status nosuch D", "no world nosuch"},
        {"world stats nosuch D", "no world nosuch"},
        {"world start w tx D", "usage: hdext-board world start"},
        {"world pair w tx D", "pair a receiver"},
        {"world fault w rx9 kill D", "rx9 is not a unit of world w"},
        {"world fault w tx kill now D", "takes no value"},
        {"world fault w tx drop abc D", "percentage"},
        {"world fault w tx drop 101 D", "percentage"},
        {"world fault w tx explode D", "unknown fault"},
        {"world fault w tx daemon start sshd D", "no daemon"},
        {"world neighbour w abc D", "not a Wi-Fi channel"},
        {"world neighbour w 15 D", "not a Wi-Fi channel"},
        {"world report w --seconds 5x D", "--seconds"},
        {"world panel w --port 70000 D", "--port"},
    };
    for (const auto& [args, says] : cases) {
        const Outcome r = tool(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_EQ(count_lines(r.err, says), 1u) << args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
        EXPECT_EQ(r.out, "") << args;
    }
    EXPECT_FALSE(fs::exists(base + "/w2"));
    EXPECT_EQ(read_file(world + "/neighbours"), "");
}

TEST_F(BoardTool, ExitCodesAndWordsSayWhatIsThere) {
    Outcome r = tool("world fault w tx kill D");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tx: no program running\n");
    EXPECT_EQ(r.out, "");
    r = tool("world pair w rx1 D");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rx1: the TX runs no program; start it first\n");
    // Units off the air, then an access point with its station and a neighbour network.
    EXPECT_EQ(tool("world status w D").out, "tx off the air\nrx1 off the air\n");
    std::ofstream(world + "/air/state") << "tx ap ssid=K channel=36\nrx1 station ssid=K ap=tx\n";
    EXPECT_EQ(tool("world neighbour w 157 NEIGHBOUR-A D").status, 0);
    r = tool("world status w D");
    EXPECT_EQ(r.out, "tx ap ssid=K channel=36\nrx1 station ssid=K ap=tx\nneighbour channel=157 ssid=NEIGHBOUR-A\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(tool("world stats w D").out, "tx pid=0\nrx1 pid=0\n");
}

// The receiver's own capture numbers say which pictures the window covered; a TX count taken at
// other moments (here: never updated) does not. Already showing at the report's first look, its
// picture time is labelled as an upper bound.
TEST_F(BoardTool, ReportCountsShownAndCapturedOverTheSamePictures) {
    ChildProcess tx("/bin/sleep", {}, base + "/tx.out", {"60"}), rx("/bin/sleep", {}, base + "/rx.out", {"60"});
    record_program("tx", tx.pid());
    record_program("rx1", rx.pid());
    put("tx/sim/capture/status", "source=hdmi\nframes_captured=5000\n");
    std::atomic<bool> stop{false};
    std::thread unit([&] {
        // Every sixth picture is lost on the way.
        for (int n = 1; !stop; ++n, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            put("rx1/sim/hdmi-out/status", "source=video\nframes_shown=" + std::to_string(5 * n) + "\nframes_stamped=" +
                                               std::to_string(5 * n) + "\ngaps=" + std::to_string(n) +
                                               "\nlast_frame=" + std::to_string(4000 + 6 * n) + "\n");
    });
    const Outcome r = tool("world report w D --seconds 1 --deadline 5");
    stop = true;
    unit.join();
    std::smatch m;
    const std::string table = r.out;
    ASSERT_TRUE(std::regex_search(table, m, std::regex(R"(\nrx1 +(-|< [0-9.]+ s) +< [0-9.]+ s +([0-9]+) / ([0-9]+) +([0-9]+) )")))
        << table;
    const long shown = std::stol(m[2]), captured = std::stol(m[3]), gaps = std::stol(m[4]);
    EXPECT_GT(shown, 0) << table;
    EXPECT_EQ(shown + gaps, captured) << table;
}

TEST_F(BoardTool, PanelRefusesATakenPortAndAnswersEveryErrorClearly) {
    ChildProcess panel(board_tool(), {}, base + "/panel.out", {"world", "panel", "w", "--dir", base, "--port", "0"});
    ASSERT_TRUE(panel.wait_for_output("/\n")) << panel.output();
    const std::string url = panel.output();
    const int port = std::stoi(url.substr(url.rfind(':') + 1));
    const Outcome second = tool("world panel w D --port " + std::to_string(port));
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(count_lines(second.err, "cannot listen"), 1u) << second.err;
    // Status line, then the body after the blank line.
    auto answer = [](const std::string& a) { return a.substr(0, a.find("\r\n")) + " | " + a.substr(a.find("\r\n\r\n") + 4); };
    EXPECT_EQ(answer(panel_post(port, "/api/key?unit=tx&key=up&action=press", false)),
              "HTTP/1.1 411 Length Required | a POST needs a Content-Length header (0 for none)");
    EXPECT_EQ(answer(panel_post(port, "/api/fault?unit=tx&what=kill")), "HTTP/1.1 409 Conflict | tx: no program running");
    EXPECT_EQ(answer(panel_post(port, "/api/fault?unit=rx9&what=kill")), "HTTP/1.1 404 Not Found | no unit \"rx9\" in this world");
    EXPECT_EQ(answer(http_exchange(port, "GET /unit/rx9/oled.png HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n")),
              "HTTP/1.1 404 Not Found | no unit \"rx9\" in this world");
}

} // namespace
} // namespace hdext::test
