// On a simulated board the program's I2C bus finds the simulated chips: linking this library
// whole into the program registers them before main() runs. A unit never sets a board root,
// so nothing is registered there.
#include "board/board.h"
#include "sim/devices/lt6911_model.h"

namespace {

struct RegisterOnSimulatedBoard {
    RegisterOnSimulatedBoard() {
        if (hdext::board::simulated()) hdext::sim::install_board_devices();
    }
} g_register;

} // namespace
