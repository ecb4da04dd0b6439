// Every platform call of the interface, logged into the recording platform.
#include "recording_mpi.h"

using hdext::test::rec;

// Bindings log both triples: source module, device, channel, then the destination's.
int ss_mpi_sys_bind(const ot_mpp_chn* s, const ot_mpp_chn* d) {
    return rec().log("ss_mpi_sys_bind",
                     {s->mod_id, s->dev_id, s->chn_id, d->mod_id, d->dev_id, d->chn_id});
}
int ss_mpi_sys_unbind(const ot_mpp_chn* s, const ot_mpp_chn* d) {
    return rec().log("ss_mpi_sys_unbind",
                     {s->mod_id, s->dev_id, s->chn_id, d->mod_id, d->dev_id, d->chn_id});
}
// MIPI requests log the request and its argument (the attribute record, or one int).
int ss_mpi_mipi_ioctl(int fd, unsigned long request, const void* arg) {
    const long long args[] = {fd, static_cast<long long>(request)};
    if (request == OT_MIPI_SET_DEV_ATTR)
        return rec().log_in("ss_mpi_mipi_ioctl", {args[0], args[1]},
                            static_cast<const ot_mipi_dev_attr*>(arg));
    return rec().log_in("ss_mpi_mipi_ioctl", {args[0], args[1]}, static_cast<const int*>(arg));
}
int ss_mpi_sys_init() {
    return rec().log("ss_mpi_sys_init", {});
}
int ss_mpi_sys_exit() {
    return rec().log("ss_mpi_sys_exit", {});
}
int ss_mpi_vb_set_cfg(const ot_vb_cfg* cfg) {
    return rec().log_in("ss_mpi_vb_set_cfg", {}, cfg);
}
int ss_mpi_vb_get_cfg(ot_vb_cfg* cfg) {
    return rec().log_out("ss_mpi_vb_get_cfg", {}, cfg);
}
int ss_mpi_vb_init() {
    return rec().log("ss_mpi_vb_init", {});
}
int ss_mpi_vb_exit() {
    return rec().log("ss_mpi_vb_exit", {});
}
int ss_mpi_vb_set_mod_pool_cfg(int mod, const ot_vb_cfg* cfg) {
    return rec().log_in("ss_mpi_vb_set_mod_pool_cfg", {static_cast<long long>(mod)}, cfg);
}
int ss_mpi_vb_init_mod_common_pool(int mod) {
    return rec().log("ss_mpi_vb_init_mod_common_pool", {static_cast<long long>(mod)});
}
int ss_mpi_vb_exit_mod_common_pool(int mod) {
    return rec().log("ss_mpi_vb_exit_mod_common_pool", {static_cast<long long>(mod)});
}
int ss_mpi_vb_create_pool(const ot_vb_pool_cfg* cfg) {
    return rec().log_in("ss_mpi_vb_create_pool", {}, cfg);
}
int ss_mpi_vb_destroy_pool(int pool) {
    return rec().log("ss_mpi_vb_destroy_pool", {static_cast<long long>(pool)});
}
int ss_mpi_mipi_close(int fd) {
    return rec().log("ss_mpi_mipi_close", {static_cast<long long>(fd)});
}
int ss_mpi_vi_set_dev_attr(int dev, const ot_vi_dev_attr* attr) {
    return rec().log_in("ss_mpi_vi_set_dev_attr", {static_cast<long long>(dev)}, attr);
}
int ss_mpi_vi_get_dev_attr(int dev, ot_vi_dev_attr* attr) {
    return rec().log_out("ss_mpi_vi_get_dev_attr", {static_cast<long long>(dev)}, attr);
}
int ss_mpi_vi_enable_dev(int dev) {
    return rec().log("ss_mpi_vi_enable_dev", {static_cast<long long>(dev)});
}
int ss_mpi_vi_disable_dev(int dev) {
    return rec().log("ss_mpi_vi_disable_dev", {static_cast<long long>(dev)});
}
int ss_mpi_vi_set_chn_attr(int dev, int chn, const ot_vi_chn_attr* attr) {
    return rec().log_in("ss_mpi_vi_set_chn_attr",
                        {static_cast<long long>(dev), static_cast<long long>(chn)}, attr);
}
int ss_mpi_vi_get_chn_attr(int dev, int chn, ot_vi_chn_attr* attr) {
    return rec().log_out("ss_mpi_vi_get_chn_attr",
                         {static_cast<long long>(dev), static_cast<long long>(chn)}, attr);
}
int ss_mpi_vi_enable_chn(int dev, int chn) {
    return rec().log("ss_mpi_vi_enable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_vi_disable_chn(int dev, int chn) {
    return rec().log("ss_mpi_vi_disable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_vi_get_mod_param(ot_vi_mod_param* param) {
    return rec().log_out("ss_mpi_vi_get_mod_param", {}, param);
}
int ss_mpi_vi_set_mod_param(const ot_vi_mod_param* param) {
    return rec().log_in("ss_mpi_vi_set_mod_param", {}, param);
}
int ss_mpi_vpss_create_grp(int grp, const ot_vpss_grp_attr* attr) {
    return rec().log_in("ss_mpi_vpss_create_grp", {static_cast<long long>(grp)}, attr);
}
int ss_mpi_vpss_destroy_grp(int grp) {
    return rec().log("ss_mpi_vpss_destroy_grp", {static_cast<long long>(grp)});
}
int ss_mpi_vpss_start_grp(int grp) {
    return rec().log("ss_mpi_vpss_start_grp", {static_cast<long long>(grp)});
}
int ss_mpi_vpss_stop_grp(int grp) {
    return rec().log("ss_mpi_vpss_stop_grp", {static_cast<long long>(grp)});
}
int ss_mpi_vpss_set_chn_attr(int grp, int chn, const ot_vpss_chn_attr* attr) {
    return rec().log_in("ss_mpi_vpss_set_chn_attr",
                        {static_cast<long long>(grp), static_cast<long long>(chn)}, attr);
}
int ss_mpi_vpss_enable_chn(int grp, int chn) {
    return rec().log("ss_mpi_vpss_enable_chn",
                     {static_cast<long long>(grp), static_cast<long long>(chn)});
}
int ss_mpi_vpss_disable_chn(int grp, int chn) {
    return rec().log("ss_mpi_vpss_disable_chn",
                     {static_cast<long long>(grp), static_cast<long long>(chn)});
}
int ss_mpi_venc_create_chn(int chn, const ot_venc_chn_attr* attr) {
    return rec().log_in("ss_mpi_venc_create_chn", {static_cast<long long>(chn)}, attr);
}
int ss_mpi_venc_destroy_chn(int chn) {
    return rec().log("ss_mpi_venc_destroy_chn", {static_cast<long long>(chn)});
}
int ss_mpi_venc_start_chn(int chn, const ot_venc_start_param* param) {
    return rec().log_in("ss_mpi_venc_start_chn", {static_cast<long long>(chn)}, param);
}
int ss_mpi_venc_stop_chn(int chn) {
    return rec().log("ss_mpi_venc_stop_chn", {static_cast<long long>(chn)});
}
int ss_mpi_venc_get_chn_attr(int chn, ot_venc_chn_attr* attr) {
    return rec().log_out("ss_mpi_venc_get_chn_attr", {static_cast<long long>(chn)}, attr);
}
int ss_mpi_venc_set_chn_attr(int chn, const ot_venc_chn_attr* attr) {
    return rec().log_in("ss_mpi_venc_set_chn_attr", {static_cast<long long>(chn)}, attr);
}
int ss_mpi_venc_get_rc_param(int chn, ot_venc_rc_param* param) {
    return rec().log_out("ss_mpi_venc_get_rc_param", {static_cast<long long>(chn)}, param);
}
int ss_mpi_venc_set_rc_param(int chn, const ot_venc_rc_param* param) {
    return rec().log_in("ss_mpi_venc_set_rc_param", {static_cast<long long>(chn)}, param);
}
int ss_mpi_venc_get_fd(int chn) {
    const int r = rec().log("ss_mpi_venc_get_fd", {static_cast<long long>(chn)});
    return rec().descriptors() ? rec().venc_fd() : r;
}
int ss_mpi_venc_close_fd(int chn) {
    return rec().log("ss_mpi_venc_close_fd", {static_cast<long long>(chn)});
}
int ss_mpi_venc_query_status(int chn, ot_venc_chn_status* status) {
    const int r =
        rec().log_out("ss_mpi_venc_query_status", {static_cast<long long>(chn)}, status);
    if (r == 0 && rec().descriptors())
        status->cur_packs = rec().pictures_waiting();
    return r;
}
int ss_mpi_venc_release_stream(int chn, ot_venc_stream* stream) {
    return rec().log_out("ss_mpi_venc_release_stream", {static_cast<long long>(chn)}, stream);
}
int ss_mpi_venc_get_mod_param(ot_venc_mod_param* param) {
    return rec().log_out("ss_mpi_venc_get_mod_param", {}, param);
}
int ss_mpi_venc_set_mod_param(const ot_venc_mod_param* param) {
    return rec().log_in("ss_mpi_venc_set_mod_param", {}, param);
}
int ss_mpi_vdec_create_chn(int chn, const ot_vdec_chn_attr* attr) {
    return rec().log_in("ss_mpi_vdec_create_chn", {static_cast<long long>(chn)}, attr);
}
int ss_mpi_vdec_destroy_chn(int chn) {
    return rec().log("ss_mpi_vdec_destroy_chn", {static_cast<long long>(chn)});
}
int ss_mpi_vdec_get_chn_param(int chn, ot_vdec_chn_param* param) {
    return rec().log_out("ss_mpi_vdec_get_chn_param", {static_cast<long long>(chn)}, param);
}
int ss_mpi_vdec_set_chn_param(int chn, const ot_vdec_chn_param* param) {
    return rec().log_in("ss_mpi_vdec_set_chn_param", {static_cast<long long>(chn)}, param);
}
int ss_mpi_vdec_start_recv_stream(int chn) {
    return rec().log("ss_mpi_vdec_start_recv_stream", {static_cast<long long>(chn)});
}
int ss_mpi_vdec_stop_recv_stream(int chn) {
    return rec().log("ss_mpi_vdec_stop_recv_stream", {static_cast<long long>(chn)});
}
int ss_mpi_vdec_reset_chn(int chn) {
    return rec().log("ss_mpi_vdec_reset_chn", {static_cast<long long>(chn)});
}
int ss_mpi_vdec_set_display_mode(int chn, int mode) {
    return rec().log("ss_mpi_vdec_set_display_mode",
                     {static_cast<long long>(chn), static_cast<long long>(mode)});
}
int ss_mpi_vdec_send_stream(int chn, const ot_vdec_stream* stream, int timeout_ms) {
    return rec().log_in("ss_mpi_vdec_send_stream",
                        {static_cast<long long>(chn), static_cast<long long>(timeout_ms)}, stream);
}
int ss_mpi_vdec_get_mod_param(ot_vdec_mod_param* param) {
    return rec().log_out("ss_mpi_vdec_get_mod_param", {}, param);
}
int ss_mpi_vdec_set_mod_param(const ot_vdec_mod_param* param) {
    return rec().log_in("ss_mpi_vdec_set_mod_param", {}, param);
}
int ss_mpi_vdec_attach_vb_pool(int chn, const ot_vdec_pool_attr* pool) {
    return rec().log_in("ss_mpi_vdec_attach_vb_pool", {static_cast<long long>(chn)}, pool);
}
int ss_mpi_vdec_detach_vb_pool(int chn) {
    return rec().log("ss_mpi_vdec_detach_vb_pool", {static_cast<long long>(chn)});
}
int ss_mpi_vo_set_pub_attr(int dev, const ot_vo_pub_attr* attr) {
    return rec().log_in("ss_mpi_vo_set_pub_attr", {static_cast<long long>(dev)}, attr);
}
int ss_mpi_vo_enable(int dev) {
    return rec().log("ss_mpi_vo_enable", {static_cast<long long>(dev)});
}
int ss_mpi_vo_disable(int dev) {
    return rec().log("ss_mpi_vo_disable", {static_cast<long long>(dev)});
}
int ss_mpi_vo_set_video_layer_attr(int layer, const ot_vo_video_layer_attr* attr) {
    return rec().log_in("ss_mpi_vo_set_video_layer_attr", {static_cast<long long>(layer)}, attr);
}
int ss_mpi_vo_get_video_layer_attr(int layer, ot_vo_video_layer_attr* attr) {
    return rec().log_out("ss_mpi_vo_get_video_layer_attr", {static_cast<long long>(layer)}, attr);
}
int ss_mpi_vo_set_video_layer_early_display(int layer, int enable) {
    return rec().log("ss_mpi_vo_set_video_layer_early_display",
                     {static_cast<long long>(layer), static_cast<long long>(enable)});
}
int ss_mpi_vo_enable_video_layer(int layer) {
    return rec().log("ss_mpi_vo_enable_video_layer", {static_cast<long long>(layer)});
}
int ss_mpi_vo_disable_video_layer(int layer) {
    return rec().log("ss_mpi_vo_disable_video_layer", {static_cast<long long>(layer)});
}
int ss_mpi_vo_set_chn_attr(int layer, int chn, const ot_vo_chn_attr* attr) {
    return rec().log_in("ss_mpi_vo_set_chn_attr",
                        {static_cast<long long>(layer), static_cast<long long>(chn)}, attr);
}
int ss_mpi_vo_set_chn_recv_threshold(int layer, int chn, uint32_t threshold) {
    return rec().log("ss_mpi_vo_set_chn_recv_threshold",
                     {static_cast<long long>(layer), static_cast<long long>(chn),
                      static_cast<long long>(threshold)});
}
int ss_mpi_vo_enable_chn(int layer, int chn) {
    return rec().log("ss_mpi_vo_enable_chn",
                     {static_cast<long long>(layer), static_cast<long long>(chn)});
}
int ss_mpi_vo_disable_chn(int layer, int chn) {
    return rec().log("ss_mpi_vo_disable_chn",
                     {static_cast<long long>(layer), static_cast<long long>(chn)});
}
int ss_mpi_vo_clear_chn_buf(int layer, int chn, int clear_all) {
    return rec().log("ss_mpi_vo_clear_chn_buf",
                     {static_cast<long long>(layer), static_cast<long long>(chn),
                      static_cast<long long>(clear_all)});
}
int ss_mpi_hdmi_init() {
    return rec().log("ss_mpi_hdmi_init", {});
}
int ss_mpi_hdmi_deinit() {
    return rec().log("ss_mpi_hdmi_deinit", {});
}
int ss_mpi_hdmi_open(int id) {
    return rec().log("ss_mpi_hdmi_open", {static_cast<long long>(id)});
}
int ss_mpi_hdmi_close(int id) {
    return rec().log("ss_mpi_hdmi_close", {static_cast<long long>(id)});
}
int ss_mpi_hdmi_get_attr(int id, ot_hdmi_attr* attr) {
    return rec().log_out("ss_mpi_hdmi_get_attr", {static_cast<long long>(id)}, attr);
}
int ss_mpi_hdmi_set_attr(int id, const ot_hdmi_attr* attr) {
    return rec().log_in("ss_mpi_hdmi_set_attr", {static_cast<long long>(id)}, attr);
}
int ss_mpi_hdmi_start(int id) {
    return rec().log("ss_mpi_hdmi_start", {static_cast<long long>(id)});
}
int ss_mpi_hdmi_stop(int id) {
    return rec().log("ss_mpi_hdmi_stop", {static_cast<long long>(id)});
}
int ss_mpi_ai_set_pub_attr(int dev, const ot_aio_attr* attr) {
    return rec().log_in("ss_mpi_ai_set_pub_attr", {static_cast<long long>(dev)}, attr);
}
int ss_mpi_ai_enable(int dev) {
    return rec().log("ss_mpi_ai_enable", {static_cast<long long>(dev)});
}
int ss_mpi_ai_disable(int dev) {
    return rec().log("ss_mpi_ai_disable", {static_cast<long long>(dev)});
}
int ss_mpi_ai_enable_chn(int dev, int chn) {
    if (rec().renew_ai_fd_on_enable)
        rec().renew_ai_fd();
    return rec().log("ss_mpi_ai_enable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ai_disable_chn(int dev, int chn) {
    return rec().log("ss_mpi_ai_disable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ai_enable_resample(int dev, int chn, int out_rate) {
    return rec().log("ss_mpi_ai_enable_resample",
                     {static_cast<long long>(dev), static_cast<long long>(chn),
                      static_cast<long long>(out_rate)});
}
int ss_mpi_ai_disable_resample(int dev, int chn) {
    return rec().log("ss_mpi_ai_disable_resample",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ai_set_record_vqe_attr(int dev, int chn, const ot_ai_record_vqe_cfg* cfg) {
    return rec().log_in("ss_mpi_ai_set_record_vqe_attr",
                        {static_cast<long long>(dev), static_cast<long long>(chn)}, cfg);
}
int ss_mpi_ai_set_talk_vqe_attr(int dev, int chn, int ao_dev, int ao_chn,
                                const ot_ai_talk_vqe_cfg* cfg) {
    return rec().log_in("ss_mpi_ai_set_talk_vqe_attr",
                        {static_cast<long long>(dev), static_cast<long long>(chn),
                         static_cast<long long>(ao_dev), static_cast<long long>(ao_chn)},
                        cfg);
}
int ss_mpi_ai_enable_vqe(int dev, int chn) {
    return rec().log("ss_mpi_ai_enable_vqe",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ai_disable_vqe(int dev, int chn) {
    return rec().log("ss_mpi_ai_disable_vqe",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ai_get_chn_param(int dev, int chn, ot_ai_chn_param* param) {
    return rec().log_out("ss_mpi_ai_get_chn_param",
                         {static_cast<long long>(dev), static_cast<long long>(chn)}, param);
}
int ss_mpi_ai_set_chn_param(int dev, int chn, const ot_ai_chn_param* param) {
    return rec().log_in("ss_mpi_ai_set_chn_param",
                        {static_cast<long long>(dev), static_cast<long long>(chn)}, param);
}
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
int ss_mpi_ao_set_pub_attr(int dev, const ot_aio_attr* attr) {
    return rec().log_in("ss_mpi_ao_set_pub_attr", {static_cast<long long>(dev)}, attr);
}
int ss_mpi_ao_enable(int dev) {
    return rec().log("ss_mpi_ao_enable", {static_cast<long long>(dev)});
}
int ss_mpi_ao_disable(int dev) {
    return rec().log("ss_mpi_ao_disable", {static_cast<long long>(dev)});
}
int ss_mpi_ao_enable_chn(int dev, int chn) {
    return rec().log("ss_mpi_ao_enable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ao_disable_chn(int dev, int chn) {
    return rec().log("ss_mpi_ao_disable_chn",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ao_enable_resample(int dev, int chn, int in_rate) {
    return rec().log("ss_mpi_ao_enable_resample",
                     {static_cast<long long>(dev), static_cast<long long>(chn),
                      static_cast<long long>(in_rate)});
}
int ss_mpi_ao_disable_resample(int dev, int chn) {
    return rec().log("ss_mpi_ao_disable_resample",
                     {static_cast<long long>(dev), static_cast<long long>(chn)});
}
int ss_mpi_ao_send_frame(int dev, int chn, const ot_audio_frame* frame, int timeout_ms) {
    return rec().log_in("ss_mpi_ao_send_frame",
                        {static_cast<long long>(dev), static_cast<long long>(chn),
                         static_cast<long long>(timeout_ms)},
                        frame);
}
int ss_mpi_aenc_create_chn(int chn, const ot_aenc_chn_attr* attr) {
    return rec().log_in("ss_mpi_aenc_create_chn", {static_cast<long long>(chn)}, attr);
}
int ss_mpi_aenc_destroy_chn(int chn) {
    return rec().log("ss_mpi_aenc_destroy_chn", {static_cast<long long>(chn)});
}
int ss_mpi_aenc_get_fd(int chn) {
    return rec().log("ss_mpi_aenc_get_fd", {static_cast<long long>(chn)});
}
int ss_mpi_aenc_get_stream(int chn, ot_audio_stream* stream, int timeout_ms) {
    return rec().log_out("ss_mpi_aenc_get_stream",
                         {static_cast<long long>(chn), static_cast<long long>(timeout_ms)}, stream);
}
int ss_mpi_aenc_release_stream(int chn, const ot_audio_stream* stream) {
    return rec().log_in("ss_mpi_aenc_release_stream", {static_cast<long long>(chn)}, stream);
}
int ss_mpi_adec_create_chn(int chn, const ot_adec_chn_attr* attr) {
    return rec().log_in("ss_mpi_adec_create_chn", {static_cast<long long>(chn)}, attr);
}
int ss_mpi_adec_destroy_chn(int chn) {
    return rec().log("ss_mpi_adec_destroy_chn", {static_cast<long long>(chn)});
}
int ss_mpi_adec_send_stream(int chn, const ot_audio_stream* stream, int block) {
    return rec().log_in("ss_mpi_adec_send_stream",
                        {static_cast<long long>(chn), static_cast<long long>(block)}, stream);
}
