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

WIRELESS_STATUS_E CNetworkTask::GetWirelessStatus() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_eStatus;
}

void CNetworkTask::SetWirelessStatus(WIRELESS_STATUS_E s) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_eStatus = s;
}

PAIRING_STATUS_E CNetworkTask::GetPairingStatus() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return g_ePairStatus;
}

void CNetworkTask::SetPairingStatus(PAIRING_STATUS_E s) {
    std::lock_guard<std::mutex> lock(m_Lock);
    g_ePairStatus = s;
}

GUI_PAIRING_STATUS_E CNetworkTask::GetGuiPairingStatus() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return g_eGuiPairStatus;
}

void CNetworkTask::SetGuiPairingStatus(GUI_PAIRING_STATUS_E s) {
    std::lock_guard<std::mutex> lock(m_Lock);
    g_eGuiPairStatus = s;
}

int CNetworkTask::Notify(uint32_t src, uint32_t msgid, const void* data, int len) {
    MSG_INFO msg{src, kNetworkModule, msgid, static_cast<uint32_t>(len), data};
    return send_msg(&msg);
}
