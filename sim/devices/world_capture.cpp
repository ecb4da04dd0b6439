#include "sim/devices/world_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/devices/hdmi_source.h"

namespace hdext::sim {
namespace {

std::string write_line(const std::filesystem::path& file, const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file);
    out << text << "\n";
    return out ? std::string() : "cannot write " + file.string();
}

} // namespace

std::string hdmi_source_error(const std::string& source) {
    if (source == "none" || parse_hdmi_source(source)) return "";
    return "not a source: \"" + source +
           "\" (WxH[p|i]RATE [audio=RATE|audio=none], RATE one of 22050 24000 32000 44100 48000 88200 96000 "
           "176400 192000 768000; or none)";
}

std::string sdi_code_error(const std::string& code) {
    if (code == "none") return "";
    char* end = nullptr;
    const unsigned long v = std::strtoul(code.c_str(), &end, 16);
    if (code.empty() || !std::isxdigit(static_cast<unsigned char>(code[0])) || *end != '\0' || v > 0xFF)
        return "not a format code: \"" + code + "\" (hex, e.g. 0x2B, or none)";
    return "";
}

std::string plug_hdmi(const std::string& root, const std::string& source) {
    if (std::string err = hdmi_source_error(source); !err.empty()) return err;
    const std::filesystem::path base(root);
    if (std::string err = write_line(base / "sim/hdmi-in", source); !err.empty()) return err;
    const std::string fifo = (base / "dev/lt6911").string();
    std::error_code ec;
    std::filesystem::create_directories(base / "dev", ec);
    if (mkfifo(fifo.c_str(), 0600) < 0 && errno != EEXIST)
        return "cannot make " + fifo + ": " + std::strerror(errno);
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0)
        return "source written, but no program listens on " + fifo + " (" + std::strerror(errno) +
               ")";
    const bool sent = ::write(fd, "x", 1) == 1;
    ::close(fd);
    return sent ? std::string() : "cannot signal " + fifo;
}

std::string plug_sdi(const std::string& root, const std::string& code) {
    if (std::string err = sdi_code_error(code); !err.empty()) return err;
    return write_line(std::filesystem::path(root) / "sim/sdi-in", code);
}

} // namespace hdext::sim
