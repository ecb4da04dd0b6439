// A simulated air for one e2e test: brought up under a unique name owned by the test process,
// taken down (processes, namespaces, folder) however the test ends.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/child_process.h"

namespace hdext::test {

inline std::string read_file(const std::string& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Polls until pred holds; the guard only stops a hang, it is never a timing requirement.
template <class P>
bool wait_until(P pred, std::chrono::seconds guard = std::chrono::seconds(120),
                std::chrono::milliseconds poll = std::chrono::milliseconds(50)) {
    for (auto end = std::chrono::steady_clock::now() + guard; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(poll))
        if (pred()) return true;
    return pred();
}

struct World {
    std::string name, board, dir;

    // `world up NAME --rx N`; fails the test without root or when the world is not there.
    void up(const std::string& world_name, size_t rx) {
        ASSERT_EQ(geteuid(), 0u) << "the simulated air needs root (network, PID and mount namespaces)";
        name = world_name;
        board = build_dir() + "/sim/board/hdext-board";
        dir = capture_output(board + " world up " + name + " --rx " + std::to_string(rx) + " --owner " +
                             std::to_string(getpid()));
        while (!dir.empty() && dir.back() == '\n') dir.pop_back();
        ASSERT_TRUE(std::filesystem::exists(dir + "/world.conf")) << "world up failed";
    }
    // Takes everything down and checks that nothing of the world is left.
    void down() {
        capture_output(board + " world down " + name);
        EXPECT_FALSE(std::filesystem::exists(dir));
        EXPECT_EQ(capture_output("ip netns list").find("hdx-" + name + "-"), std::string::npos);
    }
};

} // namespace hdext::test
