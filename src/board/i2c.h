// I2C bus access. One process-wide bus object per bus number, shared by every chip on it (the
// HDMI receiver and the OLED controller share bus 0). Each transfer names its target address;
// the bus serialises the address selection with the transfer so two threads cannot interleave.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace hdext::board {

// Results of I2cBus transfers.
inline constexpr int kI2cOk = 0;
inline constexpr int kI2cFailed = -1;       // the transfer itself failed (no acknowledge...)
inline constexpr int kI2cAddressFailed = -2; // the target address could not be selected

class I2cBus {
public:
    virtual ~I2cBus() = default;
    // Plain write of n bytes to the chip at 7-bit address addr (address forced even when a
    // kernel driver claims it). Any thread; blocks for the transfer.
    virtual int write(uint8_t addr, const uint8_t* buf, size_t n) = 0;
    // One combined transfer: write wn bytes, repeated start, read rn bytes.
    virtual int write_read(uint8_t addr, const uint8_t* wbuf, size_t wn, uint8_t* rbuf,
                           size_t rn) = 0;
};

// A chip on a simulated bus. Calls are serialised by the bus.
class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // A write transfer addressed to this chip; false = not acknowledged.
    virtual bool on_write(const uint8_t* buf, size_t n) = 0;
    // A read transfer addressed to this chip; false = not acknowledged.
    virtual bool on_read(uint8_t* buf, size_t n) = 0;
};

// Registers the model that answers at addr on simulated bus `bus` (replaces an earlier one;
// null removes it). Called by the simulator at start-up and by tests, before transfers start.
void register_sim_i2c_device(int bus, uint8_t addr, std::shared_ptr<I2cDevice> device);

// The process-wide bus number `bus`: "/dev/i2c-<bus>" on a unit, the simulated bus on a
// simulated board. Opened on first use and kept for the life of the process; null when the
// device cannot be opened. Thread-safe.
I2cBus* i2c_bus(int bus);

// Backends, for tests and tools that want a specific one. The caller owns the result.
std::unique_ptr<I2cBus> open_linux_i2c_bus(const char* dev_path); // null when open fails
std::unique_ptr<I2cBus> make_sim_i2c_bus(int bus);

} // namespace hdext::board
