#include "app/startup.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "app/sdi_monitor.h"
#include "app/usb_monitor.h"
#include "board/board.h"
#include "board/gpio.h"
#include "board/shell.h"
#include "core/dump_print.h"
#include "core/event.h"
#include "core/frame.h"
#include "core/mempool.h"
#include "core/task.h"
#include "decode/decode_entry.h"
#include "encode/audio_encoder_task.h"
#include "encode/video_encoder_task.h"
#include "media/codec.h"
#include "net/network_entry.h"
#include "net/network_task.h"
#include "periph/app_actions.h"
#include "periph/input_state.h"
#include "periph/lt6911.h"
#include "rtsp/rtsp_entry.h"
#include "settings/param_config.h"
#include "stream/receiver.h"
#include "stream/sender.h"
#include "stream/stream_config.h"
#include "stream/stream_entry.h"
#include "ui/osd_entry.h"
#include "ui/osd_manager.h"


namespace gpio = hdext::board::gpio;

// Low time of the RX's line-104 reset pulse.
constexpr useconds_t kResetPulseUs = 1000;

namespace {

// A new bit rate reaches the encoder by restarting the active video input.
void restart_video_input() {
    switch (vi_mode.load(std::memory_order_relaxed)) {
    case 1:
        sdi_turn_off_video();
        sdi_turn_on_video();
        break;
    case 2:
        hdmi_turn_off_video();
        hdmi_turn_on_video();
        break;
    default:
        break;
    }
}

void start_detached(void* (*fn)(void*)) {
    pthread_t t;
    if (pthread_create(&t, nullptr, fn, nullptr) == 0) pthread_detach(t);
}

// Marks each pipeline step in the diagnostic output, so the start order can be followed.
void step(const char* name) { DUMP(3, "start-up: %s", name); }

// The TX home screen shows the heartbeat's client table.
int read_client_table(hdext::ui::OsdClient* out, int max) {
    std::lock_guard<std::mutex> lock(g_mutex);
    int n = 0;
    for (int i = 0; i < kSenderSlots && n < max; ++i) {
        if (!g_thdInfo[i].used) continue;
        out[n].present = true;
        out[n].level = g_thdInfo[i].signal;
        ++n;
    }
    return n;
}

// Leaving pairing from the panel releases the pairing listener on the network task.
void release_pairing_listener() {
    int32_t zero = 0;
    CNetworkTask::Notify(0x1000, LOCAL_MSG_NETWORK_PAIR_RELEASE, &zero, 4);
}

int rx_signal_level() {
    uint8_t level = 0;
    app_get_wifi_signal_level(0, &level);
    return level;
}

void tx_pipeline() {
    step("INTF_CodecInit");
    INTF_CodecInit();
    step("Quendor_Init_enVideo_Task");
    Quendor_Init_enVideo_Task();
    step("Quendor_Init_enAudio_Task");
    Quendor_Init_enAudio_Task();
    step("Init_Network");
    Init_Network(0);
    // Reset pulse of the HDMI receiver: low then high, nothing in between.
    gpio::export_line(3);
    gpio::set_direction(3, "out");
    gpio::set_value(3, 0);
    gpio::set_value(3, 1);
    step("Lt6911Create");
    Lt6911Create();
    step("app_osd_manager_init");
    hdext::ui::set_client_table_reader(read_client_table);
    hdext::periph::set_quit_pairing_release(release_pairing_listener);
    app_osd_manager_init();
    step("CreateSender");
    CreateSender();
    system_cmd(("insmod " + hdext::board::path("/opt/gs2971spi.ko") + " ").c_str(), 10);
    step("SdiProc");
    start_detached(SdiProc);
}

void rx_pipeline() {
    step("INTF_CodecInit");
    INTF_CodecInit();
    step("Quendor_Init_deVideo_Task");
    Quendor_Init_deVideo_Task();
    step("Quendor_Init_deAudio_Task");
    Quendor_Init_deAudio_Task();
    step("app_osd_manager_init");
    hdext::periph::set_quit_pairing_release(release_pairing_listener);
    app_osd_manager_init();
    step("rtsp_check");
    start_detached(rtsp_check);
    step("Init_Network");
    NetHooks net_hooks = CNetworkTask::Hooks();
    net_hooks.rx_linked = hdext::stream::rx_linked;
    CNetworkTask::SetHooks(net_hooks);
    Init_Network(1);
    step("CreateReceiver");
    hdext::stream::StreamHooks stream_hooks;
    stream_hooks.start_media = StartMedia;
    stream_hooks.signal_level = rx_signal_level;
    hdext::stream::set_hooks(stream_hooks);
    CreateReceiver();
}

} // namespace

int task_start() {
    EQUIPMENT_MODEL_E role = hdext::board::detect_role();
    g_EquipmentModel.store(role, std::memory_order_relaxed);
    fprintf(stderr, "TAMBO model is :::::: :::::: <%s>\n", role == EQUIPMENT_MODEL_TX ? "TX" : "RX");
    mempool_init();
    init_msg_mgr(kMsgRecords);
    init_event_handler_mgr(kEventHandlerRecords);
    init_thr_mgr(kTaskRecords);
    init_timer_task(nullptr);
    init_frame_buff_mgr(kVideoFrames, kVideoFrameBytes);
    init_audio_frame_buff_mgr(kAudioFrames, kAudioFrameBytes);
    ParamHooks hooks;
    hooks.restart_video_input = restart_video_input;
    CParamConfig::Instance()->SetHooks(hooks);
    CreateParamTask(CParamConfig::Instance());
    init_sys_task();
    return 0;
}

// GPIO set-up of each role. Direct file writes stand in for the "echo V > FILE" commands:
// the same files receive the same values in the same order.
int set_gpio() {
    if (g_EquipmentModel.load(std::memory_order_relaxed) == EQUIPMENT_MODEL_TX) {
        gpio::export_line(0);
        gpio::export_line(1);
        gpio::set_direction(0, "out");
        gpio::set_direction(1, "out");
        gpio::set_value(0, 1);
        return gpio::set_value(1, 0);
    }
    gpio::export_line(62);
    gpio::export_line(63);
    gpio::set_direction(62, "out");
    gpio::set_direction(63, "out");
    gpio::export_line(104);
    gpio::set_direction(104, "out");
    gpio::set_value(104, 0);
    usleep(kResetPulseUs);
    gpio::set_value(104, 1);
    gpio::export_line(95);
    gpio::export_line(96);
    gpio::set_direction(95, "out");
    gpio::set_direction(96, "out");
    gpio::set_value(95, 0);
    gpio::set_value(96, 1);
    gpio::export_line(103);
    return gpio::set_direction(103, "in");
}

int init_sys_task() {
    install_quiet_signals();
    set_gpio();
    const bool tx = g_EquipmentModel.load(std::memory_order_relaxed) == EQUIPMENT_MODEL_TX;
    if (!tx) start_detached(monitor_usb_detection_handler);
    start_detached(monitor_usb_mount_handler);
    // Kernel knobs written directly, like the GPIO lines.
    hdext::board::write_file("/proc/sys/net/ipv4/tcp_low_latency", "1");
    hdext::board::write_file("/proc/sys/net/ipv4/tcp_fack", "1");
    pthread_mutex_init(&audio_mutex, nullptr);
    if (tx)
        tx_pipeline();
    else
        rx_pipeline();
    return 0;
}

int StartMedia(int) {
    fprintf(stderr, "\n\n strat VDEC\n\n");
    Quendor_Start_deVideo_Task();
    fprintf(stderr, "\n\n strat ADEC\n\n");
    Quendor_Start_deAudio_Task();
    return 0;
}
