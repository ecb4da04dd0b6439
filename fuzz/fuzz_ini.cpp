// libFuzzer target for the INI reader: the input is loaded as a settings file, read and
// changed through the public operations, saved and loaded again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/ini.h"

namespace {

// A private folder for the files of one run, removed at exit; in memory when the host has
// /dev/shm, since every save syncs the file to its disk.
struct WorkDir {
    std::string path;
    WorkDir() {
        char shm[] = "/dev/shm/fuzz-ini-XXXXXX";
        char tmp[] = "/tmp/fuzz-ini-XXXXXX";
        const char* d = mkdtemp(shm);
        if (!d) d = mkdtemp(tmp);
        if (!d) std::abort();
        path = d;
    }
    ~WorkDir() {
        unlink((path + "/in.ini").c_str());
        unlink((path + "/out.ini").c_str());
        rmdir(path.c_str());
    }
};

const std::string& work_dir() {
    static WorkDir dir;
    return dir.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = work_dir() + "/in.ini";
    const std::string out = work_dir() + "/out.ini";
    FILE* fp = std::fopen(in.c_str(), "wb");
    if (!fp) return 0;
    std::fwrite(data, 1, size, fp);
    std::fclose(fp);

    // Names taken from the input itself, so the fuzzer can aim at its own sections and keys.
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string section = text.substr(0, std::min<size_t>(text.find_first_of("=\n"), 32));
    std::string key = text.size() > 8 ? text.substr(4, 8) : "key";
    section = section.c_str();  // stop at a NUL byte
    key = key.c_str();

    OpenIniFile(in.c_str());
    ReadString(section.c_str(), key.c_str(), "def");
    ReadInt("wifi", "channel", 36);
    ReadDouble(section.c_str(), key.c_str(), 1.5);
    ReadLongLongInt("system", "time", -1);
    ReadBool(section.c_str(), "flag", true);
    WriteString(section.c_str(), key.c_str(), text.substr(0, 40).c_str());
    WriteInt("wifi", "channel", 149);
    WriteDouble("new", "d", 2.5);
    if (WriteIniFile(out.c_str()) == 1) {
        OpenIniFile(out.c_str());
        // Whatever the input held, a value written is the value read back after a reload.
        if (ReadInt("wifi", "channel", 0) != 149) std::abort();
    }
    CloseIniFile();
    return 0;
}
