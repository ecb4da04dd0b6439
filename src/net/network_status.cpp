#include "core/task.h"
#include "net/network_task.h"

std::mutex CNetworkTask::m_Lock;
WIRELESS_STATUS_E CNetworkTask::m_eStatus = WIRELESS_STATUS_STOP;
PAIRING_STATUS_E CNetworkTask::g_ePairStatus = PAIRING_STATUS_IDLE;
GUI_PAIRING_STATUS_E CNetworkTask::g_eGuiPairStatus = GUI_PAIRING_STATUS_NONE;

CNetworkTask* CNetworkTask::Instance() {
    static CNetworkTask* instance = new CNetworkTask();
    return instance;
}

namespace {

// Each status is read or written alone under the class lock.
template <class T>
T locked_get(const T& v) {
    std::lock_guard<std::mutex> lock(CNetworkTask::m_Lock);
    return v;
}

template <class T>
void locked_set(T& v, T value) {
    std::lock_guard<std::mutex> lock(CNetworkTask::m_Lock);
    v = value;
}

} // namespace

WIRELESS_STATUS_E CNetworkTask::GetWirelessStatus() { return locked_get(m_eStatus); }
void CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_E s) { locked_set(m_eStatus, s); }
PAIRING_STATUS_E CNetworkTask::GetPairingStatus() { return locked_get(g_ePairStatus); }
void CNetworkTask::SetPairingStatus(PAIRING_STATUS_E s) { locked_set(g_ePairStatus, s); }
GUI_PAIRING_STATUS_E CNetworkTask::GetGuiPairingStatus() { return locked_get(g_eGuiPairStatus); }
void CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_E s) { locked_set(g_eGuiPairStatus, s); }

int CNetworkTask::Notify(uint32_t src, uint32_t msgid, const void* data, int len) {
    MSG_INFO msg{src, kNetworkModule, msgid, static_cast<uint32_t>(len), data};
    return send_msg(&msg);
}
