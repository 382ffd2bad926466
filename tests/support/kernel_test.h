// Base fixture for tests that run driver code on the host kernel model.
#pragma once

#include "kernel_model.h"

#include <gtest/gtest.h>

namespace zeltest {

// Fails the current test on any kernel rule the model saw broken and on any
// pool block or request left behind.
void CheckModelClean();

class KernelTest : public ::testing::Test {
  protected:
    void SetUp() override { km::Reset(); }
    void TearDown() override { CheckModelClean(); }
};

} // namespace zeltest
