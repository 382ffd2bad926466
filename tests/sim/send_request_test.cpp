// The simulated platform's send helpers against dispatch routines that keep
// and that break the rule of what a routine does with a request it was given.
#include "kernel_test.h"
#include "pnp.h"

#include "irp_completion.h"

#include <string>
#include <vector>

namespace {

PIRP g_kept = nullptr; // the request a routine returned without completing

NTSTATUS Completes(PDEVICE_OBJECT, PIRP irp) {
    return sim::CompleteIrp(irp, STATUS_SUCCESS, 3);
}
NTSTATUS PassesOn(PDEVICE_OBJECT device, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(*static_cast<PDEVICE_OBJECT*>(device->DeviceExtension), irp);
}
NTSTATUS Loses(PDEVICE_OBJECT, PIRP irp) {
    g_kept = irp;
    irp->IoStatus.Status = STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

bool HasFault(const std::vector<std::string>& faults, const std::string& part) {
    for (const auto& f : faults)
        if (f.find(part) != std::string::npos)
            return true;
    return false;
}

struct Case {
    const char* name;
    PDRIVER_DISPATCH upper;
    PDRIVER_DISPATCH lower; // the driver below, reached when the upper passes the request on
    bool lost;
};

class SendRequestTest : public zeltest::KernelTest, public ::testing::WithParamInterface<Case> {};

TEST_P(SendRequestTest, ARequestReturnedNeitherCompletedNorPassedOnIsAFault) {
    const Case& c = GetParam();
    g_kept = nullptr;
    PDRIVER_OBJECT lowerDriver = km::CreateDriverObject(u"\\Driver\\Lower");
    PDRIVER_OBJECT upperDriver = km::CreateDriverObject(u"\\Driver\\Upper");
    lowerDriver->MajorFunction[IRP_MJ_PNP] = c.lower;
    upperDriver->MajorFunction[IRP_MJ_PNP] = c.upper;
    PDEVICE_OBJECT lower = nullptr;
    PDEVICE_OBJECT upper = nullptr;
    ASSERT_EQ(IoCreateDevice(lowerDriver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower),
              STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(upperDriver, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_UNKNOWN, 0,
                             FALSE, &upper),
              STATUS_SUCCESS);
    *static_cast<PDEVICE_OBJECT*>(upper->DeviceExtension) =
        IoAttachDeviceToDeviceStack(upper, lower);

    const sim::pnp::Result result = sim::pnp::Send(lower, IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES);
    const auto faults = km::TakeFaults();
    EXPECT_EQ(HasFault(faults, "neither completed nor passed on"), c.lost) << c.name;
    EXPECT_EQ(result.returned, STATUS_SUCCESS);
    if (c.lost) {
        // The routine still holds the request; once it completes it, the
        // sender is no longer there to hear it, and whoever holds it frees it.
        ASSERT_NE(g_kept, nullptr);
        IoCompleteRequest(g_kept, IO_NO_INCREMENT);
        IoFreeIrp(g_kept);
    } else {
        EXPECT_EQ(result.status, STATUS_SUCCESS);
        EXPECT_EQ(result.information, 3u);
    }
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
    IoDeleteDevice(lower);
    km::DeleteDriverObject(upperDriver);
    km::DeleteDriverObject(lowerDriver);
}

INSTANTIATE_TEST_SUITE_P(
    Routines, SendRequestTest,
    ::testing::Values(Case{"completes", Completes, Completes, false},
                      Case{"passes on to one that completes", PassesOn, Completes, false},
                      Case{"returns it untouched", Loses, Completes, true},
                      Case{"passes on to one that returns it untouched", PassesOn, Loses, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::to_string(info.index); });

} // namespace
