// media_smoke: streams through the media facade on the software platform, the way a TX and an
// RX use it, in one process: capture -> encoder -> bytes -> decoder -> output. For each size it
// prints what the output saw and fails (exit 1) unless every picture was shown, in order,
// without gaps. Like a unit of a simulated world it runs with a processor of its own (started
// from a shell, only under `setsid`).
//
//   media_smoke [--seconds N] [--mbps M] [--sizes 1280x720,1920x1080] [--board DIR]
#include "board/board.h"
#include "core/frame.h"
#include "media/codec.h"
#include "sim/mpi/sim_control.h"
#include "sim/mpi/sim_core.h"
#include "sim/devices/processor.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/select.h>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    double seconds = 3;
    int mbps = 6;
    std::vector<std::pair<int, int>> sizes{{1280, 720}, {1920, 1080}};
    std::string board;
};

constexpr int kRate = 60;
constexpr int kViDev = 3, kViChn = 12, kVenc = 0;
constexpr int kVdec = 0, kVoDev = 0, kVoChn = 0;

int sync_code(int w, int h) {
    if (w == 1920 && h == 1080)
        return 23;
    if (w == 1280 && h == 720)
        return 10;
    if (w == 720 && h == 480)
        return 5;
    return 23;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const std::string v = argv[i + 1];
        if (k == "--seconds")
            o.seconds = std::atof(v.c_str());
        else if (k == "--mbps")
            o.mbps = std::atoi(v.c_str());
        else if (k == "--board")
            o.board = v;
        else if (k == "--sizes") {
            o.sizes.clear();
            size_t pos = 0;
            while (pos < v.size()) {
                size_t end = v.find(',', pos);
                if (end == std::string::npos)
                    end = v.size();
                int w = 0, h = 0;
                if (std::sscanf(v.substr(pos, end - pos).c_str(), "%dx%d", &w, &h) == 2)
                    o.sizes.emplace_back(w, h);
                pos = end + 1;
            }
        }
    }
    return o;
}

// The bytes of a frame chain in order.
std::vector<uint8_t> gather(frame_buff* f) {
    std::vector<uint8_t> out(f->data, f->data + f->len);
    for (frame_buff* n = frame_ctl_of(f)->chain; n; n = frame_ctl_of(n)->chain)
        out.insert(out.end(), n->data, n->data + n->len);
    return out;
}

// Takes every encoded picture and sends it to the decoder until `until_us`, or until no picture
// came for 300 ms when draining. Returns the pictures passed on.
uint64_t pump(uint64_t until_us, bool drain) {
    uint64_t passed = 0;
    for (;;) {
        const uint64_t now = hdext::sim::now_us();
        if (!drain && now >= until_us)
            return passed;
        const int fd = INTF_VENC_GetFd(kVenc);
        if (fd < 0)
            return passed;
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(fd, &rd);
        timeval tv{0, drain ? 300000 : 100000};
        if (select(fd + 1, &rd, nullptr, nullptr, &tv) <= 0) {
            if (drain)
                return passed;
            continue;
        }
        int size = 0;
        frame_buff* f = INTF_VENC_GetStream(kVenc, &size);
        if (!f)
            continue;
        std::vector<uint8_t> bytes = gather(f);
        _MEDIA_FRAME_COMM_INFO info{bytes.data(), static_cast<uint32_t>(bytes.size()), f->pts};
        if (INTF_VDEC_SendStream(kVdec, &info) == 0)
            ++passed;
        free_frame(f);
    }
}

bool run_size(const Options& o, int w, int h, bool first) {
    char line[64];
    std::snprintf(line, sizeof(line), "%dx%dp%d audio=48000", w, h, kRate);
    hdext::sim::write_board_file("/sim/hdmi-in", line);
    const int sync = sync_code(w, h);

    // RX side: output, HDMI, decoder, bound.
    INTF_SetResolution(sync, 24, kRate, w, h);
    INTF_VO_Start(kVoDev, kVoChn);
    INTF_HDMI_SetType(0, sync, 48000, 1);
    if (first)
        INTF_HDMI_Start(0);
    else
        INTF_HDMI_Change(0);
    INTF_VDEC_SetDecodeType(kVdec, 96, 1);
    INTF_VDEC_Start(kVdec);
    INTF_SYS_BIND(5, 0, kVdec, 15, kVoDev, kVoChn);

    // TX side: encoder, capture, bound.
    INTF_SetResolution(sync, 16, kRate, w, h);
    INTF_VENC_SetBitrate(kVenc, o.mbps);
    INTF_VENC_Start(kVenc);
    INTF_VI_Set_Intf_Mode(kViDev, kViChn, 3, 1);
    INTF_VI_Start(kViDev, kViChn);
    INTF_SYS_BIND(16, kViDev, kViChn, 8, 0, kVenc);

    const uint64_t t0 = hdext::sim::now_us();
    uint64_t sent = pump(t0 + static_cast<uint64_t>(o.seconds * 1e6), false);
    INTF_SYS_UNBIND(16, kViDev, kViChn, 8, 0, kVenc);
    const uint32_t produced = hdext::sim::vi_frames_produced(kViDev, kViChn);
    INTF_VI_Stop(kViDev, kViChn);
    sent += pump(0, true);
    INTF_VENC_Stop(kVenc);
    for (int i = 0; i < 200 && hdext::sim::vdec_queued(kVdec) > 0; ++i)
        usleep(10000);
    usleep(100000); // the last picture leaves the decoder
    const hdext::sim::VoStats s = hdext::sim::vo_stats(kVoDev, kVoChn);

    INTF_SYS_UNBIND(5, 0, kVdec, 15, kVoDev, kVoChn);
    INTF_VO_Stop(kVoDev, kVoChn);
    INTF_VDEC_Stop(kVdec);

    const bool ok = produced > 0 && s.shown == produced && s.stamped == s.shown && s.gaps == 0 &&
                    s.reordered == 0 && s.first_frame == 0 &&
                    s.last_frame == static_cast<int64_t>(produced) - 1;
    std::printf("%dx%d@%d %d Mbit/s: captured %u, sent %llu, shown %llu, stamped %llu, gaps %llu, "
                "reordered %llu, "
                "frames %lld..%lld, latency p50 %.1f ms p99 %.1f ms max %.1f ms: %s\n",
                w, h, kRate, o.mbps, produced, static_cast<unsigned long long>(sent),
                static_cast<unsigned long long>(s.shown),
                static_cast<unsigned long long>(s.stamped), static_cast<unsigned long long>(s.gaps),
                static_cast<unsigned long long>(s.reordered), static_cast<long long>(s.first_frame),
                static_cast<long long>(s.last_frame), s.latency_p50_us / 1000.0,
                s.latency_p99_us / 1000.0, s.latency_max_us / 1000.0, ok ? "OK" : "FAILED");
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    hdext::sim::own_processor();
    Options o = parse(argc, argv);
    std::string board = o.board;
    bool temp_board = false;
    if (board.empty()) {
        char tmpl[] = "/tmp/media_smoke.XXXXXX";
        if (!mkdtemp(tmpl))
            return 2;
        board = tmpl;
        temp_board = true;
    }
    setenv("HDEXT_BOARD_ROOT", board.c_str(), 1);
    hdext::board::reload_root();
    init_frame_buff_mgr(512, 102400);

    if (INTF_CodecInit() != 0)
        return 2;
    INTF_VI_Create(kViDev, kViChn);
    INTF_VENC_Create(kVenc);
    INTF_VENC_SetEncodeType(kVenc, 96);
    INTF_VO_Create(kVoDev, kVoChn, 0);
    INTF_VDEC_Create(kVdec);
    INTF_HDMI_Create(0);

    bool ok = true;
    bool first = true;
    for (const auto& [w, h] : o.sizes) {
        ok = run_size(o, w, h, first) && ok;
        first = false;
    }
    INTF_CodecExit(); // the HDMI output stays on, as on a unit, so its status remains readable
    if (temp_board) {
        std::error_code ec;
        std::filesystem::remove_all(board, ec);
    } else {
        std::printf("board outputs under %s/sim/hdmi-out\n", board.c_str());
    }
    return ok ? 0 : 1;
}
