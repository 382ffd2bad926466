// Test main for every host test program. Fixtures check the model in their
// TearDown; this listener is the net for tests without one: a test that left
// a fault, a pool block or a request makes the program fail.
#include "kernel_test.h"

#include <cstdio>

namespace zeltest {
void CheckModelClean() {
    for (const auto& fault : km::TakeFaults())
        ADD_FAILURE() << "kernel fault: " << fault;
    for (const auto& block : km::PoolOutstanding()) {
        char tag[5] = {};
        for (int i = 0; i < 4; ++i)
            tag[i] = char((block.tag >> (8 * i)) & 0xFF);
        ADD_FAILURE() << "pool leak: " << block.size << " bytes, tag '" << tag << "'";
    }
    if (km::IrpsOutstanding() != 0)
        ADD_FAILURE() << km::IrpsOutstanding() << " request(s) never freed";
    if (km::OpenKeyHandles() != 0)
        ADD_FAILURE() << km::OpenKeyHandles() << " registry key handle(s) never closed";
}
} // namespace zeltest

namespace {
class LeftoverCheck : public ::testing::EmptyTestEventListener {
  public:
    void OnTestStart(const ::testing::TestInfo&) override { km::Reset(); }
    void OnTestEnd(const ::testing::TestInfo& info) override {
        auto faults = km::TakeFaults();
        auto pool = km::PoolOutstanding();
        size_t irps = km::IrpsOutstanding();
        size_t keys = km::OpenKeyHandles();
        if (faults.empty() && pool.empty() && irps == 0 && keys == 0)
            return;
        std::fprintf(stderr, "[  MODEL   ] %s.%s left:", info.test_suite_name(), info.name());
        for (auto& f : faults)
            std::fprintf(stderr, "\n    kernel fault: %s", f.c_str());
        for (auto& b : pool)
            std::fprintf(stderr, "\n    pool leak: %zu bytes", b.size);
        if (irps)
            std::fprintf(stderr, "\n    %zu request(s) never freed", irps);
        if (keys)
            std::fprintf(stderr, "\n    %zu registry key handle(s) never closed", keys);
        std::fprintf(stderr, "\n");
        ++failures;
    }
    int failures = 0;
};
} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    auto* check = new LeftoverCheck;
    ::testing::UnitTest::GetInstance()->listeners().Append(check);
    int result = RUN_ALL_TESTS();
    if (check->failures) {
        std::fprintf(stderr, "%d test(s) broke kernel rules or leaked\n", check->failures);
        return 1;
    }
    return result;
}
