#include "board/role.h"

#include <sys/stat.h>

#include "board/board.h"

std::atomic<EQUIPMENT_MODEL_E> g_EquipmentModel{EQUIPMENT_MODEL_RX};

namespace hdext::board {

EQUIPMENT_MODEL_E detect_role() {
    struct stat st {};
    return ::stat(path("/home/tx").c_str(), &st) == 0 ? EQUIPMENT_MODEL_TX : EQUIPMENT_MODEL_RX;
}

} // namespace hdext::board
