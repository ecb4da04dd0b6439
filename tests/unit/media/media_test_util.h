// Shared set-up of the media wrapper tests: a fresh recording platform and a fresh facade.
#pragma once
#include "media/codec.h"
#include "recording_mpi.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace hdext::test {

class MediaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rec().reset();
        codec = std::make_unique<CCodec>();
    }
    void TearDown() override { rec().reset(); }

    // Runs f with standard output captured; returns what it printed.
    template <class F> std::string printed(F&& f) {
        ::testing::internal::CaptureStdout();
        f();
        return ::testing::internal::GetCapturedStdout();
    }

    std::unique_ptr<CCodec> codec;
};

using Names = std::vector<std::string>;

} // namespace hdext::test
