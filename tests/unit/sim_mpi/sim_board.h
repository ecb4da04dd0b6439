// A temporary board root for software-platform tests; removed afterwards.
#pragma once
#include "board/board.h"
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace hdext::test {

class SimBoard : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sim_mpi_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        std::filesystem::create_directories(root + "/sim");
        setenv("HDEXT_BOARD_ROOT", root.c_str(), 1);
        board::reload_root();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    void write(const std::string& rel, const std::string& text) {
        std::ofstream(root + rel) << text << "\n";
    }
    std::string read(const std::string& rel) {
        std::ifstream in(root + rel);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string root;
};

} // namespace hdext::test
