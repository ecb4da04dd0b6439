// Placeholder until the USB monitors land: the threads end at once.
#include "app/usb_monitor.h"

void* monitor_usb_detection_handler(void*) { return nullptr; }
void* monitor_usb_mount_handler(void*) { return nullptr; }
