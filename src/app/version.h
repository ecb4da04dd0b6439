// The firmware version text shown and reported by the unit.
#pragma once

inline constexpr char g_SystemVersion[] = "V1.0.1.1";
