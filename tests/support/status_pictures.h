// The RX status pictures as a simulated board gets them (scripts/install-res.sh does the same
// for a kit): assets/res/*.jpg of the source tree copied into <root>/home/res/.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>

namespace hdext::test {

// assets/res of the source tree (HDEXT_SOURCE_DIR overrides the compiled-in path).
inline std::string status_pictures_dir() {
    const char* env = std::getenv("HDEXT_SOURCE_DIR");
    return std::string(env && *env ? env : HDEXT_TEST_SOURCE_DIR) + "/assets/res";
}

// Copies every picture; returns how many were copied.
inline int install_status_pictures(const std::string& root) {
    namespace fs = std::filesystem;
    fs::create_directories(root + "/home/res");
    int n = 0;
    for (const auto& e : fs::directory_iterator(status_pictures_dir())) {
        if (e.path().extension() != ".jpg") continue;
        fs::copy_file(e.path(), root + "/home/res/" + e.path().filename().string(),
                      fs::copy_options::overwrite_existing);
        ++n;
    }
    return n;
}

} // namespace hdext::test
