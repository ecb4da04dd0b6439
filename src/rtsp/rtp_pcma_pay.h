// RTP payloader for G.711 A-law at any sample rate with a dynamic payload type (the stock one
// accepts 8000 Hz only). Sample based, one byte per sample, so packets split on sample bounds.
#pragma once

// Registers the element "hdextpcmapay" in this process; idempotent, any thread after gst_init.
bool register_pcma_payloader();
