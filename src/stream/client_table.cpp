// Slots and client table bookkeeping shared by the stream acceptor, the heartbeat and the app
// service.
#include <unistd.h>

#include <cstring>

#include "core/dump_print.h"
#include "periph/app_status.h"
#include "settings/param_config.h"
#include "stream/heartbeat.h"
#include "stream/sender.h"
#include "stream/stream_net.h"

std::mutex g_mutex;
THD_INFO g_thdInfo[kSenderSlots];
uint8_t ClientNum[kSenderSlots];
int32_t CSender::m_numClient = 0;

namespace {
void status_add(int index, int delta) {
    app_status[index].store(static_cast<uint8_t>(app_status[index].load(std::memory_order_relaxed) + delta),
                            std::memory_order_relaxed);
}
} // namespace

int GetClientNum() {
    for (int i = 0; i < kSenderSlots; ++i) {
        if (ClientNum[i]) continue;
        ClientNum[i] = 1;
        return i;
    }
    return -1;
}

void CloseClientNum(int index) {
    if (index >= 0 && index < kSenderSlots) ClientNum[index] = 0;
}

namespace {
// Forgets everything a slot held for a registration (not its state).
void slot_clear(CSender& s) {
    s.m_streamConnected = 0;
    s.m_hbConnected = 0;
    s.m_addr = 0;
    s.m_sock = 0;
    s.m_hbSock = 0;
    s.m_pProtocol = nullptr;
    s.m_pVenc = nullptr;
    s.m_pAenc = nullptr;
    s.SetFrameHead(nullptr, nullptr);
}
} // namespace

int t_set_csender_info(CSender* slots, int hb_sock, uint32_t addr) {
    // One slot per address: connections that waited side by side for their first message must
    // not take every slot from one host.
    if (!slots || hdext::stream::address_registered(slots, addr)) return -1;
    for (int i = 0; i < kSenderSlots; ++i) {
        CSender& s = slots[i];
        if (s.m_state != SENDER_STATE_FREE) continue;
        slot_clear(s);
        s.m_state = SENDER_STATE_REGISTERED;
        s.m_hbConnected = 1;
        s.m_hbSock = hb_sock;
        s.m_addr = addr;
        ++s.m_gen;
        return i;
    }
    return -1;
}

namespace hdext::stream {

bool address_registered(const CSender* slots, uint32_t addr) {
    for (int i = 0; i < kSenderSlots; ++i)
        if (slots[i].m_addr == addr) return true;
    return false;
}

int supported_clients() {
    ABS_SYS_INFO_CONFIG sys{};
    CParamConfig::Instance()->GetSystemInfo(&sys);
    return sys.maxclie > kSenderSlots ? kSenderSlots : sys.maxclie;
}

void client_enter(uint32_t addr) {
    int entry;
    uint8_t number;
    if (!ClientNum[0]) {
        g_thdInfo[2] = g_thdInfo[1];
        g_thdInfo[1] = g_thdInfo[0];
        entry = 0;
        number = 1;
    } else if (!ClientNum[1]) {
        g_thdInfo[2] = g_thdInfo[1];
        entry = 1;
        number = 2;
    } else if (!ClientNum[2]) {
        entry = 2;
        number = 3;
    } else {
        std::printf("send_rx_info client_index erroe ");
        entry = 2;
        number = 0;
    }
    if (number) ClientNum[number - 1] = 1;
    THD_INFO& e = g_thdInfo[entry];
    std::memset(&e, 0, sizeof e);
    e.used = 1;
    e.addr = addr;
    e.number = number;
}

void client_leave(uint32_t addr) {
    for (int i = 0; i < kSenderSlots; ++i) {
        if (!g_thdInfo[i].used || g_thdInfo[i].addr != addr) continue;
        if (g_thdInfo[i].number) CloseClientNum(g_thdInfo[i].number - 1);
        for (int j = i; j + 1 < kSenderSlots; ++j) g_thdInfo[j] = g_thdInfo[j + 1];
        std::memset(&g_thdInfo[kSenderSlots - 1], 0, sizeof(THD_INFO));
        return;
    }
}

int client_thread_begin(uint32_t addr) {
    std::lock_guard<std::mutex> g(g_mutex);
    ++CSender::m_numClient;
    status_add(7, 1);
    client_enter(addr);
    return supported_clients();
}

void slot_release(CSender& s) {
    wake_socket(s.m_sock); // its sending thread closes it
    slot_clear(s);
    ++s.m_gen;
    if (s.m_state != SENDER_STATE_DISABLED) s.m_state = SENDER_STATE_FREE;
}

int client_thread_end(CSender* slot, uint32_t gen, int hb_sock, uint32_t addr) {
    int before;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        if (slot->m_gen == gen) slot_release(*slot);
        client_leave(addr);
        before = CSender::m_numClient--;
        status_add(7, -1);
        if (CSender::m_numClient == 0) app_status[14].store(1, std::memory_order_relaxed);
    }
    close(hb_sock);
    return before;
}

} // namespace hdext::stream
