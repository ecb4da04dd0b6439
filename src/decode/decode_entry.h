// RX decode entries: set-up at start-up, start on the first connection to a TX (StartMedia).
#pragma once

int Quendor_Init_deVideo_Task();
int Quendor_Init_deAudio_Task();
int Quendor_Start_deVideo_Task();
int Quendor_Start_deAudio_Task();
