#include "board/i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "board/board.h"

namespace hdext::board {
namespace {

class LinuxI2cBus final : public I2cBus {
public:
    explicit LinuxI2cBus(int fd) : fd_(fd) {}
    ~LinuxI2cBus() override { ::close(fd_); }

    int write(uint8_t addr, const uint8_t* buf, size_t n) override {
        std::lock_guard<std::mutex> g(mu_);
        if (ioctl(fd_, I2C_SLAVE_FORCE, static_cast<unsigned long>(addr)) < 0)
            return kI2cAddressFailed;
        return ::write(fd_, buf, n) == static_cast<ssize_t>(n) ? kI2cOk : kI2cFailed;
    }

    int write_read(uint8_t addr, const uint8_t* wbuf, size_t wn, uint8_t* rbuf,
                   size_t rn) override {
        std::lock_guard<std::mutex> g(mu_);
        if (ioctl(fd_, I2C_SLAVE_FORCE, static_cast<unsigned long>(addr)) < 0)
            return kI2cAddressFailed;
        i2c_msg msgs[2] = {
            {addr, 0, static_cast<__u16>(wn), const_cast<uint8_t*>(wbuf)},
            {addr, I2C_M_RD, static_cast<__u16>(rn), rbuf},
        };
        i2c_rdwr_ioctl_data req{msgs, 2};
        return ioctl(fd_, I2C_RDWR, &req) < 0 ? kI2cFailed : kI2cOk;
    }

private:
    int fd_;
    std::mutex mu_;
};

// Device models by (bus, address), shared by every simulated bus object.
struct SimRegistry {
    std::mutex mu;
    std::map<std::pair<int, uint8_t>, std::shared_ptr<I2cDevice>> devices;

    std::shared_ptr<I2cDevice> find(int bus, uint8_t addr) {
        std::lock_guard<std::mutex> g(mu);
        auto it = devices.find({bus, addr});
        return it == devices.end() ? nullptr : it->second;
    }
};

SimRegistry& registry() {
    static SimRegistry r;
    return r;
}

class SimI2cBus final : public I2cBus {
public:
    explicit SimI2cBus(int bus) : bus_(bus) {}

    int write(uint8_t addr, const uint8_t* buf, size_t n) override {
        std::lock_guard<std::mutex> g(mu_);
        auto dev = registry().find(bus_, addr);
        return dev && dev->on_write(buf, n) ? kI2cOk : kI2cFailed;
    }

    int write_read(uint8_t addr, const uint8_t* wbuf, size_t wn, uint8_t* rbuf,
                   size_t rn) override {
        std::lock_guard<std::mutex> g(mu_);
        auto dev = registry().find(bus_, addr);
        if (!dev || !dev->on_write(wbuf, wn)) return kI2cFailed;
        return dev->on_read(rbuf, rn) ? kI2cOk : kI2cFailed;
    }

private:
    int bus_;
    std::mutex mu_;
};

} // namespace

void register_sim_i2c_device(int bus, uint8_t addr, std::shared_ptr<I2cDevice> device) {
    auto& r = registry();
    std::lock_guard<std::mutex> g(r.mu);
    if (device)
        r.devices[{bus, addr}] = std::move(device);
    else
        r.devices.erase({bus, addr});
}

std::unique_ptr<I2cBus> open_linux_i2c_bus(const char* dev_path) {
    int fd = ::open(dev_path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<LinuxI2cBus>(fd);
}

std::unique_ptr<I2cBus> make_sim_i2c_bus(int bus) { return std::make_unique<SimI2cBus>(bus); }

I2cBus* i2c_bus(int bus) {
    static std::mutex mu;
    static std::map<int, std::unique_ptr<I2cBus>> buses;
    std::lock_guard<std::mutex> g(mu);
    auto& slot = buses[bus];
    if (!slot) {
        if (simulated()) {
            slot = make_sim_i2c_bus(bus);
        } else {
            char dev[32];
            std::snprintf(dev, sizeof dev, "/dev/i2c-%d", bus);
            slot = open_linux_i2c_bus(path(dev).c_str());
        }
    }
    return slot.get();
}

} // namespace hdext::board
