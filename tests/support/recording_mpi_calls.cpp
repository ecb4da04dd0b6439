// Every platform call of the interface, logged into the recording platform.
#include "recording_mpi.h"

using hdext::test::rec;

// The plain calls: integer arguments logged in order, and the record passed in or handed out.
#define CALL0(n) int n() { return rec().log(#n, {}); }
#define CALL1(n) int n(int a) { return rec().log(#n, {a}); }
#define CALL2(n) int n(int a, int b) { return rec().log(#n, {a, b}); }
#define CALL3(n) int n(int a, int b, int c) { return rec().log(#n, {a, b, c}); }
#define IN0(n, T) int n(const T* r) { return rec().log_in(#n, {}, r); }
#define IN1(n, T) int n(int a, const T* r) { return rec().log_in(#n, {a}, r); }
#define IN2(n, T) int n(int a, int b, const T* r) { return rec().log_in(#n, {a, b}, r); }
#define OUT0(n, T) int n(T* r) { return rec().log_out(#n, {}, r); }
#define OUT1(n, T) int n(int a, T* r) { return rec().log_out(#n, {a}, r); }
#define OUT2(n, T) int n(int a, int b, T* r) { return rec().log_out(#n, {a, b}, r); }

// Bindings log both triples: source module, device, channel, then the destination's.
int ss_mpi_sys_bind(const ot_mpp_chn* s, const ot_mpp_chn* d) {
    return rec().log("ss_mpi_sys_bind",
                     {s->mod_id, s->dev_id, s->chn_id, d->mod_id, d->dev_id, d->chn_id});
}
int ss_mpi_sys_unbind(const ot_mpp_chn* s, const ot_mpp_chn* d) {
    return rec().log("ss_mpi_sys_unbind",
                     {s->mod_id, s->dev_id, s->chn_id, d->mod_id, d->dev_id, d->chn_id});
}
// MIPI requests log the descriptor and the request.
int ss_mpi_mipi_ioctl(int fd, unsigned long request, const void*) {
    return rec().log("ss_mpi_mipi_ioctl", {fd, static_cast<long long>(request)});
}
CALL0(ss_mpi_sys_init)
CALL0(ss_mpi_sys_exit)
IN0(ss_mpi_vb_set_cfg, ot_vb_cfg)
OUT0(ss_mpi_vb_get_cfg, ot_vb_cfg)
CALL0(ss_mpi_vb_init)
CALL0(ss_mpi_vb_exit)
IN1(ss_mpi_vb_set_mod_pool_cfg, ot_vb_cfg)
CALL1(ss_mpi_vb_init_mod_common_pool)
CALL1(ss_mpi_vb_exit_mod_common_pool)
IN0(ss_mpi_vb_create_pool, ot_vb_pool_cfg)
CALL1(ss_mpi_vb_destroy_pool)
CALL1(ss_mpi_mipi_close)
IN1(ss_mpi_vi_set_dev_attr, ot_vi_dev_attr)
OUT1(ss_mpi_vi_get_dev_attr, ot_vi_dev_attr)
CALL1(ss_mpi_vi_enable_dev)
CALL1(ss_mpi_vi_disable_dev)
IN2(ss_mpi_vi_set_chn_attr, ot_vi_chn_attr)
OUT2(ss_mpi_vi_get_chn_attr, ot_vi_chn_attr)
CALL2(ss_mpi_vi_enable_chn)
CALL2(ss_mpi_vi_disable_chn)
OUT0(ss_mpi_vi_get_mod_param, ot_vi_mod_param)
IN0(ss_mpi_vi_set_mod_param, ot_vi_mod_param)
IN1(ss_mpi_vpss_create_grp, ot_vpss_grp_attr)
CALL1(ss_mpi_vpss_destroy_grp)
CALL1(ss_mpi_vpss_start_grp)
CALL1(ss_mpi_vpss_stop_grp)
IN2(ss_mpi_vpss_set_chn_attr, ot_vpss_chn_attr)
CALL2(ss_mpi_vpss_enable_chn)
CALL2(ss_mpi_vpss_disable_chn)
IN1(ss_mpi_venc_create_chn, ot_venc_chn_attr)
CALL1(ss_mpi_venc_destroy_chn)
IN1(ss_mpi_venc_start_chn, ot_venc_start_param)
CALL1(ss_mpi_venc_stop_chn)
OUT1(ss_mpi_venc_get_chn_attr, ot_venc_chn_attr)
IN1(ss_mpi_venc_set_chn_attr, ot_venc_chn_attr)
OUT1(ss_mpi_venc_get_rc_param, ot_venc_rc_param)
IN1(ss_mpi_venc_set_rc_param, ot_venc_rc_param)
int ss_mpi_venc_get_fd(int chn) {
    const int r = rec().log("ss_mpi_venc_get_fd", {static_cast<long long>(chn)});
    return rec().descriptors() ? rec().venc_fd() : r;
}
CALL1(ss_mpi_venc_close_fd)
CALL2(ss_mpi_venc_request_idr)
int ss_mpi_venc_query_status(int chn, ot_venc_chn_status* status) {
    const int r =
        rec().log_out("ss_mpi_venc_query_status", {static_cast<long long>(chn)}, status);
    if (r == 0 && rec().descriptors())
        status->cur_packs = rec().pictures_waiting();
    return r;
}
OUT1(ss_mpi_venc_release_stream, ot_venc_stream)
OUT0(ss_mpi_venc_get_mod_param, ot_venc_mod_param)
IN0(ss_mpi_venc_set_mod_param, ot_venc_mod_param)
IN1(ss_mpi_vdec_create_chn, ot_vdec_chn_attr)
CALL1(ss_mpi_vdec_destroy_chn)
OUT1(ss_mpi_vdec_get_chn_param, ot_vdec_chn_param)
IN1(ss_mpi_vdec_set_chn_param, ot_vdec_chn_param)
CALL1(ss_mpi_vdec_start_recv_stream)
CALL1(ss_mpi_vdec_stop_recv_stream)
CALL1(ss_mpi_vdec_reset_chn)
CALL2(ss_mpi_vdec_set_display_mode)
int ss_mpi_vdec_send_stream(int chn, const ot_vdec_stream* stream, int timeout_ms) {
    return rec().log_in("ss_mpi_vdec_send_stream",
                        {static_cast<long long>(chn), static_cast<long long>(timeout_ms)}, stream);
}
OUT0(ss_mpi_vdec_get_mod_param, ot_vdec_mod_param)
IN0(ss_mpi_vdec_set_mod_param, ot_vdec_mod_param)
IN1(ss_mpi_vdec_attach_vb_pool, ot_vdec_pool_attr)
CALL1(ss_mpi_vdec_detach_vb_pool)
IN1(ss_mpi_vo_set_pub_attr, ot_vo_pub_attr)
CALL1(ss_mpi_vo_enable)
CALL1(ss_mpi_vo_disable)
IN1(ss_mpi_vo_set_video_layer_attr, ot_vo_video_layer_attr)
OUT1(ss_mpi_vo_get_video_layer_attr, ot_vo_video_layer_attr)
CALL2(ss_mpi_vo_set_video_layer_early_display)
CALL1(ss_mpi_vo_enable_video_layer)
CALL1(ss_mpi_vo_disable_video_layer)
IN2(ss_mpi_vo_set_chn_attr, ot_vo_chn_attr)
int ss_mpi_vo_set_chn_recv_threshold(int layer, int chn, uint32_t threshold) {
    return rec().log("ss_mpi_vo_set_chn_recv_threshold",
                     {static_cast<long long>(layer), static_cast<long long>(chn),
                      static_cast<long long>(threshold)});
}
CALL2(ss_mpi_vo_enable_chn)
CALL2(ss_mpi_vo_disable_chn)
CALL3(ss_mpi_vo_clear_chn_buf)
CALL0(ss_mpi_hdmi_init)
CALL0(ss_mpi_hdmi_deinit)
CALL1(ss_mpi_hdmi_open)
CALL1(ss_mpi_hdmi_close)
OUT1(ss_mpi_hdmi_get_attr, ot_hdmi_attr)
IN1(ss_mpi_hdmi_set_attr, ot_hdmi_attr)
CALL1(ss_mpi_hdmi_start)
CALL1(ss_mpi_hdmi_stop)
IN1(ss_mpi_ai_set_pub_attr, ot_aio_attr)
CALL1(ss_mpi_ai_enable)
CALL1(ss_mpi_ai_disable)
int ss_mpi_ai_enable_chn(int dev, int chn) {
    if (rec().renew_ai_fd_on_enable)
        rec().renew_ai_fd();
    return rec().log("ss_mpi_ai_enable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
CALL2(ss_mpi_ai_disable_chn)
CALL3(ss_mpi_ai_enable_resample)
CALL2(ss_mpi_ai_disable_resample)
IN2(ss_mpi_ai_set_record_vqe_attr, ot_ai_record_vqe_cfg)
int ss_mpi_ai_set_talk_vqe_attr(int dev, int chn, int ao_dev, int ao_chn,
                                const ot_ai_talk_vqe_cfg* cfg) {
    return rec().log_in("ss_mpi_ai_set_talk_vqe_attr",
                        {static_cast<long long>(dev), static_cast<long long>(chn),
                         static_cast<long long>(ao_dev), static_cast<long long>(ao_chn)},
                        cfg);
}
CALL2(ss_mpi_ai_enable_vqe)
CALL2(ss_mpi_ai_disable_vqe)
OUT2(ss_mpi_ai_get_chn_param, ot_ai_chn_param)
IN2(ss_mpi_ai_set_chn_param, ot_ai_chn_param)
int ss_mpi_ai_get_fd(int dev, int chn) {
    const int r =
        rec().log("ss_mpi_ai_get_fd", {static_cast<long long>(dev), static_cast<long long>(chn)});
    return rec().descriptors() ? rec().ai_fd() : r;
}
int ss_mpi_ai_get_frame(int dev, int chn, ot_audio_frame* frame, ot_aec_frame* aec,
                        int timeout_ms) {
    if (aec)
        *aec = ot_aec_frame{};
    const int r =
        rec().log_out("ss_mpi_ai_get_frame", {dev, chn, aec != nullptr, timeout_ms}, frame);
    if (r != 0 || !rec().descriptors())
        return r;
    return rec().take_pcm(frame) ? 0 : static_cast<int>(0xA0018006); // nothing captured yet
}
int ss_mpi_ai_release_frame(int dev, int chn, const ot_audio_frame* frame,
                            const ot_aec_frame* aec) {
    return rec().log_in("ss_mpi_ai_release_frame", {dev, chn, aec != nullptr}, frame);
}
IN1(ss_mpi_ao_set_pub_attr, ot_aio_attr)
CALL1(ss_mpi_ao_enable)
CALL1(ss_mpi_ao_disable)
CALL2(ss_mpi_ao_enable_chn)
CALL2(ss_mpi_ao_disable_chn)
CALL3(ss_mpi_ao_enable_resample)
CALL2(ss_mpi_ao_disable_resample)
int ss_mpi_ao_send_frame(int dev, int chn, const ot_audio_frame* frame, int timeout_ms) {
    return rec().log_in("ss_mpi_ao_send_frame",
                        {static_cast<long long>(dev), static_cast<long long>(chn),
                         static_cast<long long>(timeout_ms)},
                        frame);
}
IN1(ss_mpi_aenc_create_chn, ot_aenc_chn_attr)
CALL1(ss_mpi_aenc_destroy_chn)
CALL1(ss_mpi_aenc_get_fd)
int ss_mpi_aenc_get_stream(int chn, ot_audio_stream* stream, int timeout_ms) {
    return rec().log_out("ss_mpi_aenc_get_stream",
                         {static_cast<long long>(chn), static_cast<long long>(timeout_ms)}, stream);
}
IN1(ss_mpi_aenc_release_stream, ot_audio_stream)
IN1(ss_mpi_adec_create_chn, ot_adec_chn_attr)
CALL1(ss_mpi_adec_destroy_chn)
int ss_mpi_adec_send_stream(int chn, const ot_audio_stream* stream, int block) {
    return rec().log_in("ss_mpi_adec_send_stream",
                        {static_cast<long long>(chn), static_cast<long long>(block)}, stream);
}
