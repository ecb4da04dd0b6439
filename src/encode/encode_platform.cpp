#include "encode/encode_platform.h"

#include <atomic>

namespace hdext {
namespace {

// In force until start-up installs the facade: every call fails, so nothing is touched.
class InertEncodePlatform final : public EncodePlatform {
public:
    int vi_create(int, int) override { return -1; }
    int venc_create(int) override { return -1; }
    int venc_set_encode_type(int, int) override { return -1; }
    int set_resolution(int, int, int, int, int) override { return -1; }
    int vi_set_intf_mode(int, int, int, int) override { return -1; }
    int venc_set_bitrate(int, int) override { return -1; }
    int venc_start(int) override { return -1; }
    int vi_start(int, int) override { return -1; }
    int sys_bind(int, int, int, int, int, int) override { return -1; }
    int venc_get_fd(int) override { return -1; }
    int venc_close_fd(int) override { return -1; }
    frame_buff* venc_get_stream(int, int*) override { return nullptr; }
    int vi_get_mod_param(ot_vi_mod_param*) override { return -1; }
    int vi_set_mod_param(const ot_vi_mod_param*) override { return -1; }
    int venc_get_mod_param(ot_venc_mod_param*) override { return -1; }
    int venc_set_mod_param(const ot_venc_mod_param*) override { return -1; }
    int aenc_create(int) override { return -1; }
    int ai_create(int, int) override { return -1; }
    int ai_set_audio(int, int, int, int, int) override { return -1; }
    int ai_start(int, int) override { return -1; }
    int ai_stop(int, int) override { return -1; }
    int ai_get_fd(int, int) override { return -1; }
    int ai_get_frame(int, int, ot_audio_frame*, ot_aec_frame*) override { return -1; }
    int ai_release_frame(int, int, const ot_audio_frame*, const ot_aec_frame*) override {
        return -1;
    }
};

InertEncodePlatform g_inert;
std::atomic<EncodePlatform*> g_platform{nullptr};

} // namespace

EncodePlatform& encode_platform() {
    EncodePlatform* p = g_platform.load(std::memory_order_acquire);
    return p ? *p : g_inert;
}

EncodePlatform* set_encode_platform(EncodePlatform* platform) {
    return g_platform.exchange(platform, std::memory_order_acq_rel);
}

bool encode_platform_installed() { return g_platform.load(std::memory_order_acquire) != nullptr; }

} // namespace hdext
