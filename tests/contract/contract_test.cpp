// The kernel contract cases on the host model: every case, also those the
// real kernel under Wine cannot show, must hold, and leave no fault or leak.
#include "contract_cases.h"
#include "kernel_test.h"

#include <string>
#include <vector>

namespace {

class ContractTest : public zeltest::KernelTest,
                     public ::testing::WithParamInterface<unsigned int> {
  protected:
    PDRIVER_OBJECT driver = nullptr;

    void SetUp() override {
        KernelTest::SetUp();
        km::SetRegistryValue(u"" ZEL_CONTRACT_KEY, u"" ZEL_CONTRACT_VALUE, REG_BINARY,
                             std::vector<uint8_t>(std::begin(contract::kValueBytes),
                                                  std::end(contract::kValueBytes)));
        driver = km::CreateDriverObject(u"\\Driver\\zel_contract");
        contract::PrepareDriver(driver);
    }
    void TearDown() override {
        km::DeleteDriverObject(driver);
        KernelTest::TearDown();
    }
};

TEST_P(ContractTest, Holds) {
    unsigned int detail = 0;
    EXPECT_EQ(contract::RunCase(GetParam(), driver, &detail), 0)
        << "the check at that line of contract_cases.cpp saw " << detail << " (0x" << std::hex
        << detail << ")";
}

INSTANTIATE_TEST_SUITE_P(Kernel, ContractTest, ::testing::Range(0u, unsigned(contract::CaseCount)),
                         [](const ::testing::TestParamInfo<unsigned int>& info) {
                             return std::string(contract::kCases[info.param].name);
                         });

} // namespace
