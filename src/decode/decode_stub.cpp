// Placeholder until the decode tasks land.
#include "decode/decode_entry.h"

int Quendor_Init_deVideo_Task() { return 0; }
int Quendor_Init_deAudio_Task() { return 0; }
int Quendor_Start_deVideo_Task() { return 0; }
int Quendor_Start_deAudio_Task() { return 0; }
