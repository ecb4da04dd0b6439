// On-screen UI entry: keys, OLED, battery gauge and, when an OLED answers, the OSD task (0x8000).
#pragma once

int app_osd_manager_init();
