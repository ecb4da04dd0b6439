// Pictures encoded by the software platform's own encoder, as a TX would send them: one entry
// of bytes per picture, each carrying the platform's readable stamp with its number
// (first_no, first_no+1, ...). An IDR is asked for before picture idr_at; the running channel's
// bit rate becomes kbps_then (kbit/s) before picture rate_at.
#pragma once
#include <cstdint>
#include <vector>

#include "mpi/mpi.h"
#include "sim/mpi/sim_core.h"
#include "sim/mpi/stamp.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace hdext::test {

inline std::vector<std::vector<uint8_t>> platform_pictures(ot_payload_type payload, int w, int h,
                                                           int count, uint32_t first_no = 0,
                                                           int idr_at = -1, int rate_at = -1,
                                                           uint32_t kbps_then = 0) {
    constexpr int kChn = 11;
    ot_venc_chn_attr a{};
    a.payload = payload;
    a.max_width = 3840;
    a.max_height = 2160;
    a.width = static_cast<uint32_t>(w);
    a.height = static_cast<uint32_t>(h);
    a.rc = {1, 1000, 1, 60, 60, 4 * 1024};
    std::vector<std::vector<uint8_t>> out;
    if (ss_mpi_venc_create_chn(kChn, &a) != 0) return out;
    const ot_venc_start_param sp{-1};
    ss_mpi_venc_start_chn(kChn, &sp);
    std::vector<ot_venc_pack> packs(32);
    for (int k = 0; k < count; ++k) {
        AVFrame* f = av_frame_alloc();
        f->format = AV_PIX_FMT_NV12;
        f->width = w;
        f->height = h;
        av_frame_get_buffer(f, 32);
        const uint32_t no = first_no + static_cast<uint32_t>(k);
        sim::draw_test_picture(f->data[0], f->linesize[0], f->data[1], f->linesize[1], w, h, no);
        const uint64_t captured = sim::now_us();
        sim::write_stamp(f->data[0], f->linesize[0], w, h, sim::Stamp{no, captured});
        f->pts = static_cast<int64_t>(captured);
        if (k == idr_at) ss_mpi_venc_request_idr(kChn, 1);
        if (k == rate_at) {
            a.rc.bit_rate = kbps_then;
            if (ss_mpi_venc_set_chn_attr(kChn, &a) != 0) break;
        }
        sim::venc_sink(0, kChn, sim::Picture{f, false});
        av_frame_free(&f);
        ot_venc_stream s{packs.data(), 32, 0};
        if (ss_mpi_venc_get_stream(kChn, &s, 5000) != 0) break;
        out.emplace_back();
        for (uint32_t i = 0; i < s.pack_cnt; ++i)
            out.back().insert(out.back().end(), s.pack[i].addr, s.pack[i].addr + s.pack[i].len);
        ss_mpi_venc_release_stream(kChn, &s);
    }
    ss_mpi_venc_stop_chn(kChn);
    ss_mpi_venc_destroy_chn(kChn);
    return out;
}

} // namespace hdext::test
