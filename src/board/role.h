// Which unit this board is. The marker "/home/tx" (any kind of entry) makes a transmitter.
// g_EquipmentModel is written once by start-up before any thread starts and only read after.
#pragma once
#include <atomic>

enum EQUIPMENT_MODEL_E : int { EQUIPMENT_MODEL_TX = 0, EQUIPMENT_MODEL_RX = 1 };

extern std::atomic<EQUIPMENT_MODEL_E> g_EquipmentModel;

namespace hdext::board {
// Tests the marker; does not change g_EquipmentModel.
EQUIPMENT_MODEL_E detect_role();
} // namespace hdext::board
