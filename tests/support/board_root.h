// A simulated board root in a fresh temporary directory for the life of one test: sets
// HDEXT_BOARD_ROOT, makes the board layer re-read it, and removes everything afterwards.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "board/board.h"

namespace hdext::test {

class TempBoardRoot {
public:
    TempBoardRoot() {
        char tmpl[] = "/tmp/hdext-board-XXXXXX";
        const char* d = mkdtemp(tmpl);
        if (!d) throw std::runtime_error("mkdtemp failed");
        m_dir = d;
        setenv("HDEXT_BOARD_ROOT", m_dir.c_str(), 1);
        hdext::board::reload_root();
    }
    ~TempBoardRoot() {
        unsetenv("HDEXT_BOARD_ROOT");
        hdext::board::reload_root();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    TempBoardRoot(const TempBoardRoot&) = delete;
    TempBoardRoot& operator=(const TempBoardRoot&) = delete;

    const std::string& dir() const { return m_dir; }
    std::string host(const std::string& board_path) const { return m_dir + board_path; }

    void put(const std::string& board_path, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(host(board_path)).parent_path());
        std::ofstream(host(board_path), std::ios::binary) << text;
    }
    std::string get(const std::string& board_path) const {
        std::ifstream in(host(board_path), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool exists(const std::string& board_path) const {
        return std::filesystem::exists(host(board_path));
    }

private:
    std::string m_dir;
};

} // namespace hdext::test
