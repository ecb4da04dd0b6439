// Board monitor threads: USB port power (RX) and USB stick mount/reset (both roles).
#pragma once
#include <atomic>
#include <chrono>

// Thread entries started by init_sys_task; they run for the life of the process and end only
// when their device cannot be opened or watched.
void* monitor_usb_detection_handler(void* arg);
void* monitor_usb_mount_handler(void* arg);

namespace hdext {

inline constexpr int kUsbSenseGpio = 26;  // low while a device sits in the port
inline constexpr int kUsbPowerGpio = 25;  // port power
inline constexpr std::chrono::milliseconds kStickSettle{5000}; // before mounting a new stick

// Sends the factory reset request to the parameter task; 0, or -1 when it could not be sent.
int request_factory_reset();

struct UsbMonitorOptions {
    std::chrono::milliseconds stick_settle = kStickSettle;
    int (*factory_reset)() = request_factory_reset;
    // Tests end the loops by setting this; the program never does.
    const std::atomic<bool>* stop = nullptr;
    // Longest single wait; a missed edge or a stop request is noticed after at most this.
    int poll_ms = 1000;
};

// The loops behind the thread entries. Return only on a set-up failure (-1) or a stop (0).
int usb_port_monitor(const UsbMonitorOptions& opt);
int usb_stick_monitor(const UsbMonitorOptions& opt);

} // namespace hdext
