// What the encode tasks need from the media platform: the facade's INTF_ operations and the
// audio input's frame calls. The encoders' start-up preparation (Quendor_Init_*) installs the
// facade unless another platform is in force; tests install an observable fake with
// set_encode_platform() instead.
#pragma once
#include "core/frame.h"
#include "mpi/mpi_types.h"

namespace hdext {

class EncodePlatform {
public:
    virtual ~EncodePlatform() = default;
    // Video (INTF_ operations of the same names).
    virtual int vi_create(int dev, int chn) = 0;
    virtual int venc_create(int chn) = 0;
    virtual int venc_set_encode_type(int chn, int payload) = 0;
    virtual int set_resolution(int sync, int intf, int rate, int width, int height) = 0;
    virtual int vi_set_intf_mode(int dev, int chn, int mode, int scan) = 0;
    virtual int venc_set_bitrate(int chn, int mbps) = 0;
    virtual int venc_start(int chn) = 0;
    virtual int vi_start(int dev, int chn) = 0;
    virtual int sys_bind(int src_mod, int src_dev, int src_chn, int dst_mod, int dst_dev,
                         int dst_chn) = 0;
    virtual int venc_get_fd(int chn) = 0;
    virtual int venc_close_fd(int chn) = 0;
    // A new frame chain holding one encoded picture (the caller frees it), or null.
    virtual frame_buff* venc_get_stream(int chn, int* size) = 0;
    virtual int vi_get_mod_param(ot_vi_mod_param* p) = 0;
    virtual int vi_set_mod_param(const ot_vi_mod_param* p) = 0;
    virtual int venc_get_mod_param(ot_venc_mod_param* p) = 0;
    virtual int venc_set_mod_param(const ot_venc_mod_param* p) = 0;

    // Audio.
    virtual int aenc_create(int chn) = 0;
    virtual int ai_create(int dev, int chn) = 0;
    virtual int ai_set_audio(int dev, int chn, int rate, int mode, int width) = 0;
    virtual int ai_start(int dev, int chn) = 0;
    virtual int ai_stop(int dev, int chn) = 0;
    virtual int ai_get_fd(int dev, int chn) = 0;
    // Blocking; the frame stays valid until ai_release_frame.
    virtual int ai_get_frame(int dev, int chn, ot_audio_frame* frame, ot_aec_frame* echo) = 0;
    virtual int ai_release_frame(int dev, int chn, const ot_audio_frame* frame,
                                 const ot_aec_frame* echo) = 0;
};

// The platform in force: the installed one, else an inert one whose calls all fail. Any thread.
EncodePlatform& encode_platform();
// Installs a platform (null uninstalls); returns the previous one. Call it while no encode
// thread runs.
EncodePlatform* set_encode_platform(EncodePlatform* platform);
bool encode_platform_installed();
// The media facade (process lifetime).
EncodePlatform& facade_encode_platform();

} // namespace hdext
