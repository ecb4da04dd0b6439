// A unit's front panel on a simulated board for UI tests: the OSD task running with hand-fired
// timers, an OLED model on the bus, recorders standing in for the parameter, network and
// decode tasks, and a recording shell answering the fuel gauge.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "board/role.h"
#include "board/shell.h"
#include "screen.h"
#include "support/board_root.h"
#include "support/recording_tasks.h"

namespace hdext::test {

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Switches the unit's role (status byte 0) and redraws the home screen.
    void role(EQUIPMENT_MODEL_E r);
    // Back to the home screen with no widget open, on the OSD thread's terms.
    void home();
    void post(uint32_t id, const void* data = nullptr, uint32_t len = 0);
    void press(uint32_t id) { post(id); }
    void tick_home(int n = 1);   // the 500 ms timer (also the menus' 1 s timers)
    void tick_slow(int n = 1);   // the 30 s menu inactivity timer
    Screen screen() const;
    void battery(int reading);
    void chinese(bool on);

    std::unique_ptr<TempBoardRoot> root;
    std::shared_ptr<sim::OledModel> oled;
    std::shared_ptr<board::RecordingShell> shell;
    Recorders& rec = Recorders::get();
};

} // namespace hdext::test
