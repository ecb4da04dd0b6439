// The menu texts in English and Chinese (GB2312), indexed by string id, and text helpers.
#pragma once

#include "mpi/mpi_types.h"

inline constexpr int kMenuStrings = 42, kMenuStringBytes = 21;
extern const char menu_string_en[kMenuStrings][kMenuStringBytes];
extern const char menu_string_cn[kMenuStrings][kMenuStringBytes];

// The string of id in the language of app_status byte 3 (0 English, 1 Chinese).
const char* menu_string(int id);
bool menu_language_chinese();

// "HDMI Output : ..." for an output timing code.
void convert_resolution(char* text, ot_vo_intf_sync timing);
