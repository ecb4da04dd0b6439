// A temporary board root for software-platform tests; removed afterwards.
#pragma once
#include "support/board_root.h"
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace hdext::test {

class SimBoard : public ::testing::Test {
  protected:
    void SetUp() override {
        board_root = std::make_unique<TempBoardRoot>();
        root = board_root->dir();
        std::filesystem::create_directories(root + "/sim");
    }
    void TearDown() override { board_root.reset(); }
    void write(const std::string& rel, const std::string& text) {
        std::ofstream(root + rel) << text << "\n";
    }
    std::string read(const std::string& rel) {
        std::ifstream in(root + rel);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::unique_ptr<TempBoardRoot> board_root;
    std::string root;
};

} // namespace hdext::test
