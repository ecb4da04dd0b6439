// Shared set-up of the network tests: the core runtime once per process, the whole test process
// in a network namespace of its own (so nothing reaches the host's interfaces), a temporary
// board with a parameter store, a recording shell and no pauses.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/role.h"
#include "board/shell.h"
#include "net/network_task.h"
#include "support/board_root.h"

namespace hdext::test {

// True when the process runs in its own network namespace (set up before any test, as root).
bool in_private_netns();
// Fails the calling test unless it may create interfaces and namespaces.
#define NEED_NETNS()                                                                          \
    do {                                                                                      \
        if (!::hdext::test::in_private_netns())                                               \
            FAIL() << "this test needs root (network namespaces); run it as root as CI does"; \
    } while (0)

// Messages the parameter task got (they are also applied to the real store).
struct ParamMsg {
    uint32_t src, msg_id;
    std::string data;
};
std::vector<ParamMsg> param_messages();
void clear_param_messages();
// Waits until both tasks have handled everything sent to them so far.
void drain_tasks();

// Runs a command; its exit status.
int sh(const std::string& cmd);

class NetTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Loads the settings as the given role and stores ssid/password/channel in the Wi-Fi record.
    void settings(EQUIPMENT_MODEL_E role, const char* ssid, const char* pass, int channel);

    std::unique_ptr<TempBoardRoot> board;
    std::shared_ptr<hdext::board::RecordingShell> shell;
};

} // namespace hdext::test
