// System layer, buffer pools, processing groups and the MIPI receiver: bookkeeping only.
// Pool tables are checked and remembered; no memory is set aside for them (each unit allocates
// what its pictures really need).
#include "mpi/mpi.h"
#include <map>
#include <mutex>

namespace {
struct SysState {
    std::mutex mu;
    bool sys_up = false;
    bool vb_cfg_set = false;
    bool vb_up = false;
    ot_vb_cfg vb_cfg{};
    std::map<int, ot_vb_cfg> mod_cfg;
    std::map<int, bool> mod_up;
    std::map<int, ot_vb_pool_cfg> pools;
    int next_pool = 0;
    std::map<int, ot_vpss_grp_attr> vpss;
    std::map<int, bool> vpss_started;
    std::map<int, int> mipi_fds; // descriptor -> clock enabled
    int next_fd = 0x4000;
};
SysState& st() {
    static SysState s;
    return s;
}

bool valid_table(const ot_vb_cfg* cfg) {
    if (!cfg || cfg->max_pool_cnt > OT_VB_MAX_COMMON_POOLS)
        return false;
    for (uint32_t i = 0; i < cfg->max_pool_cnt; ++i)
        if (cfg->common_pool[i].blk_cnt != 0 && cfg->common_pool[i].blk_size == 0)
            return false;
    return true;
}
} // namespace

int ss_mpi_sys_init() {
    std::lock_guard lock(st().mu);
    if (!st().vb_up)
        return ot_err(OT_ID_SYS, OT_ERR_NOT_READY);
    st().sys_up = true;
    return 0;
}

int ss_mpi_sys_exit() {
    std::lock_guard lock(st().mu);
    st().sys_up = false;
    return 0;
}

int ss_mpi_vb_set_cfg(const ot_vb_cfg* cfg) {
    if (!valid_table(cfg))
        return ot_err(OT_ID_VB, OT_ERR_ILLEGAL_PARAM);
    std::lock_guard lock(st().mu);
    if (st().vb_up)
        return ot_err(OT_ID_VB, OT_ERR_NOT_PERM);
    st().vb_cfg = *cfg;
    st().vb_cfg_set = true;
    return 0;
}

int ss_mpi_vb_get_cfg(ot_vb_cfg* cfg) {
    if (!cfg)
        return ot_err(OT_ID_VB, OT_ERR_NULL_PTR);
    std::lock_guard lock(st().mu);
    if (!st().vb_cfg_set)
        return ot_err(OT_ID_VB, OT_ERR_NOT_CFG);
    *cfg = st().vb_cfg;
    return 0;
}

int ss_mpi_vb_init() {
    std::lock_guard lock(st().mu);
    if (!st().vb_cfg_set)
        return ot_err(OT_ID_VB, OT_ERR_NOT_CFG);
    st().vb_up = true;
    return 0;
}

int ss_mpi_vb_exit() {
    std::lock_guard lock(st().mu);
    st().vb_up = false;
    return 0;
}

int ss_mpi_vb_set_mod_pool_cfg(int mod, const ot_vb_cfg* cfg) {
    if (!valid_table(cfg))
        return ot_err(OT_ID_VB, OT_ERR_ILLEGAL_PARAM);
    std::lock_guard lock(st().mu);
    st().mod_cfg[mod] = *cfg;
    return 0;
}

int ss_mpi_vb_init_mod_common_pool(int mod) {
    std::lock_guard lock(st().mu);
    if (!st().mod_cfg.count(mod))
        return ot_err(OT_ID_VB, OT_ERR_NOT_CFG);
    st().mod_up[mod] = true;
    return 0;
}

int ss_mpi_vb_exit_mod_common_pool(int mod) {
    std::lock_guard lock(st().mu);
    st().mod_up[mod] = false;
    return 0;
}

int ss_mpi_vb_create_pool(const ot_vb_pool_cfg* cfg) {
    if (!cfg || cfg->blk_size == 0 || cfg->blk_cnt == 0)
        return -1;
    std::lock_guard lock(st().mu);
    const int id = st().next_pool++;
    st().pools[id] = *cfg;
    return id;
}

int ss_mpi_vb_destroy_pool(int pool) {
    std::lock_guard lock(st().mu);
    return st().pools.erase(pool) ? 0 : ot_err(OT_ID_VB, OT_ERR_UNEXIST);
}

// ---- processing groups ----

int ss_mpi_vpss_create_grp(int grp, const ot_vpss_grp_attr* attr) {
    if (!attr)
        return ot_err(OT_ID_VPSS, OT_ERR_NULL_PTR);
    if (grp < 0 || grp >= 256)
        return ot_err(OT_ID_VPSS, OT_ERR_INVALID_DEV);
    std::lock_guard lock(st().mu);
    if (st().vpss.count(grp))
        return ot_err(OT_ID_VPSS, OT_ERR_EXIST);
    st().vpss[grp] = *attr;
    return 0;
}
int ss_mpi_vpss_destroy_grp(int grp) {
    std::lock_guard lock(st().mu);
    st().vpss_started.erase(grp);
    return st().vpss.erase(grp) ? 0 : ot_err(OT_ID_VPSS, OT_ERR_UNEXIST);
}
int ss_mpi_vpss_start_grp(int grp) {
    std::lock_guard lock(st().mu);
    if (!st().vpss.count(grp))
        return ot_err(OT_ID_VPSS, OT_ERR_UNEXIST);
    st().vpss_started[grp] = true;
    return 0;
}
int ss_mpi_vpss_stop_grp(int grp) {
    std::lock_guard lock(st().mu);
    if (!st().vpss.count(grp))
        return ot_err(OT_ID_VPSS, OT_ERR_UNEXIST);
    st().vpss_started[grp] = false;
    return 0;
}
int ss_mpi_vpss_set_chn_attr(int grp, int chn, const ot_vpss_chn_attr* attr) {
    if (!attr)
        return ot_err(OT_ID_VPSS, OT_ERR_NULL_PTR);
    if (chn < 0 || chn >= 4)
        return ot_err(OT_ID_VPSS, OT_ERR_INVALID_CHN);
    std::lock_guard lock(st().mu);
    return st().vpss.count(grp) ? 0 : ot_err(OT_ID_VPSS, OT_ERR_UNEXIST);
}
int ss_mpi_vpss_enable_chn(int grp, int chn) {
    if (chn < 0 || chn >= 4)
        return ot_err(OT_ID_VPSS, OT_ERR_INVALID_CHN);
    std::lock_guard lock(st().mu);
    return st().vpss.count(grp) ? 0 : ot_err(OT_ID_VPSS, OT_ERR_UNEXIST);
}
int ss_mpi_vpss_disable_chn(int grp, int chn) {
    if (chn < 0 || chn >= 4)
        return ot_err(OT_ID_VPSS, OT_ERR_INVALID_CHN);
    std::lock_guard lock(st().mu);
    return st().vpss.count(grp) ? 0 : ot_err(OT_ID_VPSS, OT_ERR_UNEXIST);
}

// ---- MIPI receiver: requests are checked, nothing is driven ----

int ss_mpi_mipi_open(const char* dev_path) {
    if (!dev_path)
        return -1;
    std::lock_guard lock(st().mu);
    const int fd = st().next_fd++;
    st().mipi_fds[fd] = 0;
    return fd;
}

int ss_mpi_mipi_ioctl(int fd, unsigned long request, const void* arg) {
    std::lock_guard lock(st().mu);
    auto it = st().mipi_fds.find(fd);
    if (it == st().mipi_fds.end() || !arg)
        return -1;
    switch (request) {
    case OT_MIPI_SET_HS_MODE:
    case OT_MIPI_RESET_MIPI:
    case OT_MIPI_UNRESET_MIPI:
        return 0;
    case OT_MIPI_ENABLE_MIPI_CLOCK:
        it->second = 1;
        return 0;
    case OT_MIPI_DISABLE_MIPI_CLOCK:
        it->second = 0;
        return 0;
    case OT_MIPI_SET_DEV_ATTR: {
        const auto* a = static_cast<const ot_mipi_dev_attr*>(arg);
        return (it->second && a->width > 0 && a->height > 0) ? 0 : -1;
    }
    default:
        return -1;
    }
}

int ss_mpi_mipi_close(int fd) {
    std::lock_guard lock(st().mu);
    return st().mipi_fds.erase(fd) ? 0 : -1;
}
