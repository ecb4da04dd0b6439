// Board monitor threads: USB port power (RX) and USB stick mount/reset (both roles).
#pragma once

void* monitor_usb_detection_handler(void* arg);
void* monitor_usb_mount_handler(void* arg);
