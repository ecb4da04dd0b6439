// Device and channel bookkeeping shared by the simulated audio input and output: public
// attributes per device, device on/off, and the channels opened on enabled devices.
#pragma once
#include "mpi/mpi_types.h"
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace hdext::sim {

// Chn needs members dev, chn and attr; it is created by enable_chn and handed back by
// disable_chn for the caller to wind down outside the table's lock.
template <class Chn> class AioDevices {
  public:
    static constexpr int kDevices = 2;

    AioDevices(int mod, int max_chn) : mod_(mod), max_chn_(max_chn) {}

    int err(int code) const { return ot_err(mod_, code); }

    std::shared_ptr<Chn> find(int dev, int chn) {
        std::lock_guard lock(mu_);
        auto it = chns_.find({dev, chn});
        return it == chns_.end() ? nullptr : it->second;
    }

    template <class Valid> int set_pub_attr(int dev, const ot_aio_attr* attr, Valid valid) {
        if (!attr)
            return err(OT_ERR_NULL_PTR);
        if (!valid_dev(dev))
            return err(OT_ERR_INVALID_DEV);
        if (!valid(*attr))
            return err(OT_ERR_ILLEGAL_PARAM);
        std::lock_guard lock(mu_);
        if (dev_on_[dev])
            return err(OT_ERR_NOT_PERM);
        pub_[dev] = *attr;
        return 0;
    }

    int enable(int dev) {
        if (!valid_dev(dev))
            return err(OT_ERR_INVALID_DEV);
        std::lock_guard lock(mu_);
        if (!pub_.count(dev))
            return err(OT_ERR_NOT_CFG);
        dev_on_[dev] = true;
        return 0;
    }

    int disable(int dev) {
        if (!valid_dev(dev))
            return err(OT_ERR_INVALID_DEV);
        std::lock_guard lock(mu_);
        for (const auto& entry : chns_)
            if (entry.first.first == dev)
                return err(OT_ERR_NOT_PERM);
        dev_on_[dev] = false;
        return 0;
    }

    // init(Chn&) finishes a new channel; enabling an open channel again does nothing.
    template <class Init> int enable_chn(int dev, int chn, Init init) {
        if (chn < 0 || chn >= max_chn_)
            return err(OT_ERR_INVALID_CHN);
        if (!valid_dev(dev))
            return err(OT_ERR_INVALID_DEV);
        std::lock_guard lock(mu_);
        if (!dev_on_[dev])
            return err(OT_ERR_NOT_PERM);
        auto& slot = chns_[{dev, chn}];
        if (slot)
            return 0;
        auto c = std::make_shared<Chn>();
        c->dev = dev;
        c->chn = chn;
        c->attr = pub_[dev];
        init(*c);
        slot = c;
        return 0;
    }

    // Takes the channel out of the table (nullptr when it was not open).
    std::shared_ptr<Chn> disable_chn(int dev, int chn) {
        std::lock_guard lock(mu_);
        auto it = chns_.find({dev, chn});
        if (it == chns_.end())
            return nullptr;
        std::shared_ptr<Chn> c = std::move(it->second);
        chns_.erase(it);
        return c;
    }

  private:
    static bool valid_dev(int dev) { return dev >= 0 && dev < kDevices; }

    const int mod_;
    const int max_chn_;
    std::mutex mu_;
    std::map<int, ot_aio_attr> pub_;
    std::map<int, bool> dev_on_;
    std::map<std::pair<int, int>, std::shared_ptr<Chn>> chns_;
};

} // namespace hdext::sim
