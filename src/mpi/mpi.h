// The media platform interface: system and buffer pools, capture (VI) with the MIPI receiver,
// processing groups, video encoder and decoder, video output, HDMI transmitter, audio input
// and output, audio encoder and decoder channels. Every operation returns 0 or an error code
// (ot_err). Unless stated otherwise an operation may be called from any thread and does not
// block; attribute records are copied in and out, never kept.
//
// On a unit this is the platform's libraries; on a host the software platform (sim_mpi).
#pragma once
#include "mpi/mpi_types.h"

// ---- sys / vb ----
int ss_mpi_sys_init();
int ss_mpi_sys_exit();
int ss_mpi_vb_set_cfg(const ot_vb_cfg* cfg);
int ss_mpi_vb_get_cfg(ot_vb_cfg* cfg);
int ss_mpi_vb_init();
int ss_mpi_vb_exit();
int ss_mpi_vb_set_mod_pool_cfg(int mod, const ot_vb_cfg* cfg);
int ss_mpi_vb_init_mod_common_pool(int mod);
int ss_mpi_vb_exit_mod_common_pool(int mod);
// Returns a pool id (>= 0) or -1.
int ss_mpi_vb_create_pool(const ot_vb_pool_cfg* cfg);
int ss_mpi_vb_destroy_pool(int pool);
// Bound units hand their output to the destination by themselves until unbound.
int ss_mpi_sys_bind(const ot_mpp_chn* src, const ot_mpp_chn* dst);
int ss_mpi_sys_unbind(const ot_mpp_chn* src, const ot_mpp_chn* dst);

// ---- MIPI receiver device ("/dev/ot_mipi"): a descriptor or -1 ----
int ss_mpi_mipi_open(const char* dev_path);
int ss_mpi_mipi_ioctl(int fd, unsigned long request, const void* arg);
int ss_mpi_mipi_close(int fd);

// ---- VI ----
int ss_mpi_vi_set_dev_attr(int dev, const ot_vi_dev_attr* attr);
int ss_mpi_vi_get_dev_attr(int dev, ot_vi_dev_attr* attr);
int ss_mpi_vi_enable_dev(int dev);
int ss_mpi_vi_disable_dev(int dev);
int ss_mpi_vi_set_chn_attr(int dev, int chn, const ot_vi_chn_attr* attr);
int ss_mpi_vi_get_chn_attr(int dev, int chn, ot_vi_chn_attr* attr);
int ss_mpi_vi_enable_chn(int dev, int chn);
int ss_mpi_vi_disable_chn(int dev, int chn);
int ss_mpi_vi_get_mod_param(ot_vi_mod_param* param);
int ss_mpi_vi_set_mod_param(const ot_vi_mod_param* param);

// ---- VPSS ----
int ss_mpi_vpss_create_grp(int grp, const ot_vpss_grp_attr* attr);
int ss_mpi_vpss_destroy_grp(int grp);
int ss_mpi_vpss_start_grp(int grp);
int ss_mpi_vpss_stop_grp(int grp);
int ss_mpi_vpss_set_chn_attr(int grp, int chn, const ot_vpss_chn_attr* attr);
int ss_mpi_vpss_enable_chn(int grp, int chn);
int ss_mpi_vpss_disable_chn(int grp, int chn);

// ---- VENC ----
int ss_mpi_venc_create_chn(int chn, const ot_venc_chn_attr* attr);
int ss_mpi_venc_destroy_chn(int chn);
int ss_mpi_venc_start_chn(int chn, const ot_venc_start_param* param);
int ss_mpi_venc_stop_chn(int chn);
int ss_mpi_venc_get_chn_attr(int chn, ot_venc_chn_attr* attr);
int ss_mpi_venc_set_chn_attr(int chn, const ot_venc_chn_attr* attr);
int ss_mpi_venc_get_rc_param(int chn, ot_venc_rc_param* param);
int ss_mpi_venc_set_rc_param(int chn, const ot_venc_rc_param* param);
// A descriptor that is readable while an encoded picture waits; -1 on error.
int ss_mpi_venc_get_fd(int chn);
int ss_mpi_venc_close_fd(int chn);
int ss_mpi_venc_query_status(int chn, ot_venc_chn_status* status);
// Fills up to stream->pack_cnt packs of the oldest picture (its NAL units in order) and sets
// pack_cnt; the pack addresses stay valid until release_stream. timeout_ms -1 waits.
int ss_mpi_venc_get_stream(int chn, ot_venc_stream* stream, int timeout_ms);
int ss_mpi_venc_release_stream(int chn, ot_venc_stream* stream);
// Makes an upcoming picture an IDR with its parameter sets in front of it: instant 1 the next
// picture the channel encodes, 0 one soon after. Pictures already encoded stay as they are.
int ss_mpi_venc_request_idr(int chn, int instant);
int ss_mpi_venc_get_mod_param(ot_venc_mod_param* param);
int ss_mpi_venc_set_mod_param(const ot_venc_mod_param* param);

// ---- VDEC ----
int ss_mpi_vdec_create_chn(int chn, const ot_vdec_chn_attr* attr);
int ss_mpi_vdec_destroy_chn(int chn);
int ss_mpi_vdec_get_chn_param(int chn, ot_vdec_chn_param* param);
int ss_mpi_vdec_set_chn_param(int chn, const ot_vdec_chn_param* param);
int ss_mpi_vdec_start_recv_stream(int chn);
int ss_mpi_vdec_stop_recv_stream(int chn);
// Drops every stream and picture the channel still holds; receiving must be stopped.
int ss_mpi_vdec_reset_chn(int chn);
int ss_mpi_vdec_set_display_mode(int chn, int mode);
// Copies one stream (one whole picture in frame mode); timeout_ms -1 waits for room.
int ss_mpi_vdec_send_stream(int chn, const ot_vdec_stream* stream, int timeout_ms);
int ss_mpi_vdec_get_mod_param(ot_vdec_mod_param* param);
int ss_mpi_vdec_set_mod_param(const ot_vdec_mod_param* param);
int ss_mpi_vdec_attach_vb_pool(int chn, const ot_vdec_pool_attr* pool);
int ss_mpi_vdec_detach_vb_pool(int chn);

// ---- VO ----
int ss_mpi_vo_set_pub_attr(int dev, const ot_vo_pub_attr* attr);
int ss_mpi_vo_enable(int dev);
int ss_mpi_vo_disable(int dev);
int ss_mpi_vo_set_video_layer_attr(int layer, const ot_vo_video_layer_attr* attr);
int ss_mpi_vo_get_video_layer_attr(int layer, ot_vo_video_layer_attr* attr);
int ss_mpi_vo_set_video_layer_early_display(int layer, int enable);
int ss_mpi_vo_enable_video_layer(int layer);
int ss_mpi_vo_disable_video_layer(int layer);
int ss_mpi_vo_set_chn_attr(int layer, int chn, const ot_vo_chn_attr* attr);
int ss_mpi_vo_set_chn_recv_threshold(int layer, int chn, uint32_t threshold);
int ss_mpi_vo_enable_chn(int layer, int chn);
int ss_mpi_vo_disable_chn(int layer, int chn);
int ss_mpi_vo_clear_chn_buf(int layer, int chn, int clear_all);

// ---- HDMI ----
int ss_mpi_hdmi_init();
int ss_mpi_hdmi_deinit();
int ss_mpi_hdmi_open(int id);
int ss_mpi_hdmi_close(int id);
int ss_mpi_hdmi_get_attr(int id, ot_hdmi_attr* attr);
int ss_mpi_hdmi_set_attr(int id, const ot_hdmi_attr* attr);
int ss_mpi_hdmi_start(int id);
int ss_mpi_hdmi_stop(int id);

// ---- AI ----
int ss_mpi_ai_set_pub_attr(int dev, const ot_aio_attr* attr);
int ss_mpi_ai_enable(int dev);
int ss_mpi_ai_disable(int dev);
int ss_mpi_ai_enable_chn(int dev, int chn);
int ss_mpi_ai_disable_chn(int dev, int chn);
int ss_mpi_ai_enable_resample(int dev, int chn, int out_rate);
int ss_mpi_ai_disable_resample(int dev, int chn);
int ss_mpi_ai_set_record_vqe_attr(int dev, int chn, const ot_ai_record_vqe_cfg* cfg);
int ss_mpi_ai_set_talk_vqe_attr(int dev, int chn, int ao_dev, int ao_chn,
                                const ot_ai_talk_vqe_cfg* cfg);
int ss_mpi_ai_enable_vqe(int dev, int chn);
int ss_mpi_ai_disable_vqe(int dev, int chn);
int ss_mpi_ai_get_chn_param(int dev, int chn, ot_ai_chn_param* param);
int ss_mpi_ai_set_chn_param(int dev, int chn, const ot_ai_chn_param* param);
// Readable while a captured frame waits; -1 on error.
int ss_mpi_ai_get_fd(int dev, int chn);
// timeout_ms -1 blocks until the next frame is captured. The frame's samples stay valid until
// release_frame. aec may be null.
int ss_mpi_ai_get_frame(int dev, int chn, ot_audio_frame* frame, ot_aec_frame* aec, int timeout_ms);
int ss_mpi_ai_release_frame(int dev, int chn, const ot_audio_frame* frame, const ot_aec_frame* aec);

// ---- AO ----
int ss_mpi_ao_set_pub_attr(int dev, const ot_aio_attr* attr);
int ss_mpi_ao_enable(int dev);
int ss_mpi_ao_disable(int dev);
int ss_mpi_ao_enable_chn(int dev, int chn);
int ss_mpi_ao_disable_chn(int dev, int chn);
int ss_mpi_ao_enable_resample(int dev, int chn, int in_rate);
int ss_mpi_ao_disable_resample(int dev, int chn);
// Plays in real time; with the device's frame buffer full, timeout_ms -1 waits for room.
int ss_mpi_ao_send_frame(int dev, int chn, const ot_audio_frame* frame, int timeout_ms);

// ---- AENC / ADEC ----
int ss_mpi_aenc_create_chn(int chn, const ot_aenc_chn_attr* attr);
int ss_mpi_aenc_destroy_chn(int chn);
int ss_mpi_aenc_get_fd(int chn);
int ss_mpi_aenc_get_stream(int chn, ot_audio_stream* stream, int timeout_ms);
int ss_mpi_aenc_release_stream(int chn, const ot_audio_stream* stream);
int ss_mpi_adec_create_chn(int chn, const ot_adec_chn_attr* attr);
int ss_mpi_adec_destroy_chn(int chn);
int ss_mpi_adec_send_stream(int chn, const ot_audio_stream* stream, int block);
