#include "rtsp/rtp_pcma_pay.h"

#include <gst/gst.h>
#include <gst/rtp/gstrtpbaseaudiopayload.h>

#include <mutex>

namespace {

struct HdextPcmaPay {
    GstRTPBaseAudioPayload parent;
};

struct HdextPcmaPayClass {
    GstRTPBaseAudioPayloadClass parent_class;
};

GType hdext_pcma_pay_get_type();
G_DEFINE_TYPE(HdextPcmaPay, hdext_pcma_pay, GST_TYPE_RTP_BASE_AUDIO_PAYLOAD)

GstStaticPadTemplate g_sink = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-alaw, channels = (int) 1, rate = (int) [ 1, 192000 ]"));

GstStaticPadTemplate g_src = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("application/x-rtp, media = (string) audio, payload = (int) [ 96, 127 ], "
                    "clock-rate = (int) [ 1, 192000 ], encoding-name = (string) PCMA"));

gboolean pcma_set_caps(GstRTPBasePayload* pay, GstCaps* caps) {
    gint rate = 0;
    if (!gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate) || rate <= 0) return FALSE;
    gst_rtp_base_payload_set_options(pay, "audio", TRUE, "PCMA", static_cast<guint32>(rate));
    return gst_rtp_base_payload_set_outcaps(pay, nullptr);
}

void hdext_pcma_pay_class_init(HdextPcmaPayClass* klass) {
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &g_sink);
    gst_element_class_add_static_pad_template(element, &g_src);
    gst_element_class_set_static_metadata(element, "RTP PCMA payloader (any rate)", "Codec/Payloader/Network/RTP",
                                          "G.711 A-law into RTP packets with a dynamic payload type", "hdext");
    GST_RTP_BASE_PAYLOAD_CLASS(klass)->set_caps = pcma_set_caps;
}

void hdext_pcma_pay_init(HdextPcmaPay* self) {
    auto* audio = GST_RTP_BASE_AUDIO_PAYLOAD(self);
    gst_rtp_base_audio_payload_set_sample_based(audio);
    gst_rtp_base_audio_payload_set_sample_options(audio, 1);
}

} // namespace

bool register_pcma_payloader() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = gst_element_register(nullptr, "hdextpcmapay", GST_RANK_NONE, hdext_pcma_pay_get_type()) == TRUE;
    });
    return ok;
}
