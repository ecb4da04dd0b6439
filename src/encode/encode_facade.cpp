// The encode tasks' platform on a unit and a simulated board: the media facade, and the
// audio input's frame calls straight to the platform.
#include "encode/encode_platform.h"
#include "media/codec.h"
#include "mpi/mpi.h"

namespace hdext {
namespace {

constexpr int kBlock = -1; // wait for a frame as long as it takes

class FacadeEncodePlatform final : public EncodePlatform {
public:
    int vi_create(int d, int c) override { return INTF_VI_Create(d, c); }
    int venc_create(int c) override { return INTF_VENC_Create(c); }
    int venc_set_encode_type(int c, int pt) override { return INTF_VENC_SetEncodeType(c, pt); }
    int set_resolution(int sync, int intf, int rate, int w, int h) override {
        return INTF_SetResolution(sync, intf, rate, w, h);
    }
    int vi_set_intf_mode(int d, int c, int mode, int scan) override {
        return INTF_VI_Set_Intf_Mode(d, c, mode, scan);
    }
    int venc_set_bitrate(int c, int mbps) override { return INTF_VENC_SetBitrate(c, mbps); }
    int venc_start(int c) override { return INTF_VENC_Start(c); }
    int vi_start(int d, int c) override { return INTF_VI_Start(d, c); }
    int sys_bind(int sm, int sd, int sc, int dm, int dd, int dc) override {
        return INTF_SYS_BIND(sm, sd, sc, dm, dd, dc);
    }
    int venc_get_fd(int c) override { return INTF_VENC_GetFd(c); }
    int venc_close_fd(int c) override { return INTF_VENC_CloseFd(c); }
    frame_buff* venc_get_stream(int c, int* size) override { return INTF_VENC_GetStream(c, size); }
    int vi_get_mod_param(ot_vi_mod_param* p) override { return ss_mpi_vi_get_mod_param(p); }
    int vi_set_mod_param(const ot_vi_mod_param* p) override { return ss_mpi_vi_set_mod_param(p); }
    int venc_get_mod_param(ot_venc_mod_param* p) override { return ss_mpi_venc_get_mod_param(p); }
    int venc_set_mod_param(const ot_venc_mod_param* p) override {
        return ss_mpi_venc_set_mod_param(p);
    }
    int aenc_create(int c) override { return INTF_AENC_Create(c); }
    int ai_create(int d, int c) override { return INTF_AI_Create(d, c); }
    int ai_set_audio(int d, int c, int rate, int mode, int width) override {
        return INTF_AI_SetAudio(d, c, rate, mode, width);
    }
    int ai_start(int d, int c) override { return INTF_AI_Start(d, c); }
    int ai_stop(int d, int c) override { return INTF_AI_Stop(d, c); }
    int ai_get_fd(int d, int c) override { return ss_mpi_ai_get_fd(d, c); }
    int ai_get_frame(int d, int c, ot_audio_frame* f, ot_aec_frame* echo) override {
        return ss_mpi_ai_get_frame(d, c, f, echo, kBlock);
    }
    int ai_release_frame(int d, int c, const ot_audio_frame* f, const ot_aec_frame* e) override {
        return ss_mpi_ai_release_frame(d, c, f, e);
    }
};

} // namespace

EncodePlatform& facade_encode_platform() {
    static FacadeEncodePlatform p;
    return p;
}

} // namespace hdext
