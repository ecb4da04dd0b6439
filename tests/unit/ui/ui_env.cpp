#include "ui_env.h"

#include <chrono>
#include <thread>

#include "net/network_task.h"
#include "periph/app_status.h"
#include "periph/app_timer.h"
#include "periph/battery.h"
#include "settings/param_config.h"
#include "ui/menu.h"
#include "ui/oled.h"
#include "ui/osd_manager.h"
#include "ui/widget.h"

namespace hdext::test {

void UiTest::SetUp() {
    for (uint32_t mid : {kMidParam, kMidNetwork, kMidVideoDecode}) rec.start(mid);
    root = std::make_unique<TempBoardRoot>();
    oled = std::make_shared<sim::OledModel>("");
    board::register_sim_i2c_device(0, sim::kOledModelAddress, oled);
    board::register_sim_i2c_device(1, sim::kOledModelAddress, oled);
    hdext::ui::oled_use_bus(0);
    init_i2c(0);  // a fresh controller for every test
    shell = std::make_shared<board::RecordingShell>();
    board::set_shell(shell);
    battery(12900);
    g_EquipmentModel = EQUIPMENT_MODEL_TX;
    app_status_init(nullptr);
    ABS_WIFI_AP_CONFIG_t ap{};
    std::strcpy(ap.ssid, "QUENDOR_0A1B2C");
    ap.channel = ap.channel_in_use = 36;
    CParamConfig::Instance()->set_wifi_ap_info(&ap);
    ABS_SYS_INFO_CONFIG sys{};
    std::strcpy(sys.pincode, "4321");
    CParamConfig::Instance()->SetSystemInfo(&sys);
    for (int i : {31, 33}) app_status[i] = 36;
    CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_STARTED);
    CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_NONE);
    app_battery_low_power_gpio_handler(1);  // no filter history from another test
    hdext::ui::set_osd_post_pause_ms(0);
    hdext::ui::set_factory_reset_pause_ms(0);
    hdext::ui::set_client_table_reader(nullptr);
    static bool started = [] {
        hdext::periph::set_app_timer_manual(true);
        dc_detection_level_state = -1;
        EXPECT_EQ(app_osd_manager_init(), 0);
        // The DC thread's first reading, late under emulation, must not land over a test's value.
        for (int ms = 0; ms < 10000 && dc_detection_level_state == -1; ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }();
    dc_detection_level_state = 0;
    (void)started;
    home();
    rec.clear();
}

void UiTest::TearDown() {
    hdext::ui::osd_sync();
    if (HasFailure()) std::printf("screen at the end:\n%s", sim::oled_text_art(oled->pixels()).c_str());
    board::set_shell(nullptr);
    root.reset();
}

void UiTest::role(EQUIPMENT_MODEL_E r) {
    g_EquipmentModel = r;
    app_status[0] = static_cast<uint8_t>(r);
    home();
}

void UiTest::home() {
    hdext::ui::osd_sync();
    app_widget_off(-1, -1);
    app_widget_init();
    button_up_counter = button_down_counter = button_menu_counter = -1;
    button_up_down_counter = 0;
    osd_manager_func(0, 0);
    osd_manager_func(3, 0);
    hdext::ui::osd_sync();
}

void UiTest::post(uint32_t id, const void* data, uint32_t len) {
    app_osd_manager_notify_message(kButtonSender, id, data, len);
    hdext::ui::osd_sync();
}

void UiTest::tick_home(int n) {
    for (int i = 0; i < n; ++i) {
        hdext::periph::app_timer_fire(0);
        hdext::ui::osd_sync();
    }
}

void UiTest::tick_slow(int n) {
    for (int i = 0; i < n; ++i) {
        hdext::periph::app_timer_fire(1);
        hdext::ui::osd_sync();
    }
}

Screen UiTest::screen() const { return Screen{oled->pixels()}; }

void UiTest::battery(int r) {
    char hi[16], lo[16];
    std::snprintf(hi, sizeof hi, "0x%02x\n", (r >> 8) & 0xFF);
    std::snprintf(lo, sizeof lo, "0x%02x\n", r & 0xFF);
    for (int bus : {0, 1}) {
        shell->reply("i2cget -f -y " + std::to_string(bus) + " 0x64 0x02", hi);
        shell->reply("i2cget -f -y " + std::to_string(bus) + " 0x64 0x03", lo);
    }
}

void UiTest::chinese(bool on) { app_status[3] = on ? 1 : 0; }

} // namespace hdext::test
