// Driving a simulated TX's video inputs from outside: what `hdext-board hdmi` and
// `hdext-board sdi` do.
#pragma once
#include <string>

namespace hdext::sim {

// Writes the HDMI source description to <root>/sim/hdmi-in and signals the change with one
// byte on <root>/dev/lt6911 (made as a FIFO when missing). Returns an empty string, or why the
// change could not be made or signalled (for example: no program holds the FIFO open).
std::string plug_hdmi(const std::string& root, const std::string& source);

// Why a text is not what plug_hdmi / plug_sdi take; "" when it is.
std::string hdmi_source_error(const std::string& source);
std::string sdi_code_error(const std::string& code);

// Writes the SDI format code ("0x2B", "none") to <root>/sim/sdi-in; the program's SDI
// detector polls it. Returns an empty string or the reason it failed.
std::string plug_sdi(const std::string& root, const std::string& code);

} // namespace hdext::sim
