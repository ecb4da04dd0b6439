#include "decode_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "board/figures.h"
#include "board/role.h"
#include "core/event.h"
#include "core/mempool.h"
#include "core/task.h"
#include "decode/decode_control.h"
#include "decode/decode_entry.h"
#include "media/codec.h"
#include "media/g711.h"
#include "mpi/mpi.h"
#include "periph/input_state.h"
#include "settings/param_config.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"
#include "stream/rx_format.h"
#include "support/status_pictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace hdext::test {

void decode_core_env() {
    static std::once_flag once;
    std::call_once(once, [] {
        mempool_init();
        init_frame_buff_mgr(512, 102400);
        init_audio_frame_buff_mgr(512, 8192);
        init_msg_mgr(1024);
        init_event_handler_mgr(512);
        init_thr_mgr(40);
        init_timer_task(nullptr);
    });
}

uint64_t late_drops_figure() {
    const std::string lines = board::figure_lines(board::FigureSheet::display);
    const size_t at = lines.find("late_drops=");
    return at == std::string::npos ? 0 : std::stoull(lines.substr(at + 11));
}

frame_buff* make_video_frame(const std::vector<uint8_t>& bytes, uint64_t pts) {
    frame_buff* f = alloc_frame(static_cast<uint32_t>(bytes.size()));
    if (!f) return nullptr;
    f->kind = kFrameKindVideo;
    f->pts = pts;
    frame_copy_data(f, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return f;
}

frame_buff* make_audio_frame(const std::vector<uint8_t>& alaw, uint64_t pts) {
    frame_buff* f = alloc_audio_frame(static_cast<uint32_t>(alaw.size()));
    if (!f) return nullptr;
    f->kind = kFrameKindAudio;
    f->pts = pts;
    frame_copy_data(f, alaw.data(), static_cast<uint32_t>(alaw.size()));
    return f;
}

std::vector<uint8_t> alaw_tone(size_t samples) {
    std::vector<uint8_t> out(samples);
    for (size_t i = 0; i < samples; ++i)
        out[i] = ALawEncode(static_cast<short>(12000 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 48000.0)));
    return out;
}

uint32_t jpeg_checksum(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    pkt->data = data.data();
    pkt->size = static_cast<int>(data.size());
    AVFrame* f = av_frame_alloc();
    uint32_t h = 0;
    if (avcodec_send_packet(ctx, pkt) == 0 && avcodec_receive_frame(ctx, f) == 0) {
        h = 2166136261u; // the output's FNV-1a over every 8th luma sample of every 8th row
        for (int r = 0; r < f->height; r += 8)
            for (int c = 0; c < f->width; c += 8) h = (h ^ f->data[0][static_cast<long>(r) * f->linesize[0] + c]) * 16777619u;
    }
    av_frame_free(&f);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return h;
}

StdoutCapture::StdoutCapture() {
    char tmpl[] = "/tmp/hdext-decode-out-XXXXXX";
    const int fd = mkstemp(tmpl);
    m_path = tmpl;
    fflush(stdout);
    m_saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

StdoutCapture::~StdoutCapture() {
    fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
    unlink(m_path.c_str());
}

std::string StdoutCapture::text() {
    fflush(stdout);
    std::ifstream in(m_path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void DecodeTest::SetUp() {
    decode_core_env();
    board = std::make_unique<TempBoardRoot>();
    root = board->dir();
    std::filesystem::create_directories(root + "/sim");
    ASSERT_EQ(install_status_pictures(root), 5);
    g_EquipmentModel.store(EQUIPMENT_MODEL_RX);
    // The no-signal rule stays out of the way unless a test asks for it.
    decode::set_decode_timing({1 << 30, std::chrono::microseconds(1000), std::chrono::milliseconds(1000)});
    // Pictures and sound come in bursts with stamps of the test's choice: not judged late.
    decode::set_late_budgets({std::chrono::hours(1), std::chrono::hours(1)});
    g_sync_videc_pts.store(0);
    set_format(10, 1280, 720, 60, 48000);
    delete g_pCodec;
    g_pCodec = new CCodec();
    ASSERT_EQ(INTF_CodecInit(), 0);
}

void DecodeTest::TearDown() {
    decode::stop_decode_threads();
    if (g_pDecoder) send_and_wait(0x70FF, 0); // every earlier message is handled
    // The platform outlives the test: leave nothing bound, enabled or created behind.
    if (g_pDecoder && g_pDecoder->m_VideoActive.load()) g_pDecoder->TearDownVideo();
    if (g_pDecoder && g_pDecoder->m_PicActive.load()) g_pDecoder->TearDownPicture();
    if (started_video) INTF_VDEC_Stop(0);
    INTF_VDEC_Stop(1);
    INTF_HDMI_Stop(0);
    INTF_AO_Stop(1, 0);
    INTF_AO_Stop(0, 0);
    INTF_CodecExit();
    delete g_pDecoder;
    g_pDecoder = nullptr;
    delete g_pADecoder;
    g_pADecoder = nullptr;
    board.reset();
}

void DecodeTest::init_tasks(const char* ssid) {
    ABS_WIFI_AP_CONFIG_t wifi{};
    CParamConfig::Instance()->GetWifiInfo(&wifi);
    snprintf(wifi.ssid, sizeof(wifi.ssid), "%s", ssid);
    CParamConfig::Instance()->set_wifi_ap_info(&wifi);
    ASSERT_EQ(Quendor_Init_deVideo_Task(), 0);
    ASSERT_EQ(Quendor_Init_deAudio_Task(), 0);
    ASSERT_TRUE(eventually([] { return g_pDecoder->m_MsgsHandled.load(std::memory_order_acquire) >= 1; }));
}

void DecodeTest::start_video() {
    started_video = true;
    ASSERT_EQ(Quendor_Start_deVideo_Task(), 0);
}

void DecodeTest::send_and_wait(unsigned msg_id, int param) {
    const uint32_t before = g_pDecoder->m_MsgsHandled.load(std::memory_order_acquire);
    ASSERT_EQ(notify_decoding_task(0x4000, msg_id, reinterpret_cast<char*>(&param), sizeof(param)), 1);
    ASSERT_TRUE(eventually([&] { return g_pDecoder->m_MsgsHandled.load(std::memory_order_acquire) > before; }));
}

std::string DecodeTest::out_status(const std::string& key) {
    std::istringstream in(board->get("/sim/hdmi-out/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

std::vector<std::string> DecodeTest::gpio_writes() {
    std::istringstream in(board->get("/sim/gpio.log"));
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

void DecodeTest::set_format(int sync, int w, int h, int rate, int audio) {
    VO_SYNC_ATT.store(sync);
    MaxW_ATT.store(w);
    MaxH_ATT.store(h);
    FrameRate.store(rate);
    AudioSampling.store(audio);
}

} // namespace hdext::test
