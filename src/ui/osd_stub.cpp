// Placeholder until the on-screen UI lands.
#include "ui/osd_entry.h"

int app_osd_manager_init() { return 0; }
