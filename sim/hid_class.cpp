#include "hid_class.h"

#include "irp_completion.h"
#include "kernel_model.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

namespace sim::hid {

struct InternalCall {
    PIRP irp = nullptr;
    KEVENT done;
    NTSTATUS returned = STATUS_SUCCESS;
};

namespace {

struct Minidriver {
    HID_MINIDRIVER_REGISTRATION registration{};
    PDRIVER_DISPATCH dispatch[IRP_MJ_MAXIMUM_FUNCTION + 1] = {};
    PDRIVER_ADD_DEVICE addDevice = nullptr;
    PDRIVER_UNLOAD unload = nullptr;
};

struct Device {
    DeviceInfo info;
    PDRIVER_OBJECT driver = nullptr;
    bool readsRunning = false;
    int pollsInFlight = 0;
    bool deleting = false; // removal is done: no new poll may begin
};

struct ReadContext {
    PDEVICE_OBJECT fdo;
    std::vector<UCHAR> buffer;
};

// Driver code is never called with this lock held: a minidriver may send
// requests that come back here.
std::mutex g_lock;
std::condition_variable g_pollsDone;
std::map<PDRIVER_OBJECT, Minidriver> g_minidrivers;
std::map<PDEVICE_OBJECT, Device> g_devices;
NTSTATUS g_registrationStatus = STATUS_SUCCESS;

void ResetClass() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_minidrivers.clear();
    g_devices.clear();
    g_registrationStatus = STATUS_SUCCESS;
}

void HookReset() {
    static bool hooked = (km::OnReset(ResetClass), true);
    (void)hooked;
}

PDRIVER_DISPATCH SavedDispatch(PDEVICE_OBJECT device, UCHAR major) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(device->DriverObject);
    return it == g_minidrivers.end() ? nullptr : it->second.dispatch[major];
}

PDEVICE_OBJECT Lower(PDEVICE_OBJECT fdo) {
    return static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension)->NextDeviceObject;
}

NTSTATUS PassDown(PDEVICE_OBJECT fdo, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IofCallDriver(Lower(fdo), irp);
}

// The minidriver sees the request at the class driver's own stack location,
// as if it had been sent to it directly.
NTSTATUS CallMinidriver(PDEVICE_OBJECT fdo, PIRP irp) {
    PDRIVER_DISPATCH routine = SavedDispatch(fdo, IoGetCurrentIrpStackLocation(irp)->MajorFunction);
    if (!routine)
        return PassDown(fdo, irp);
    return routine(fdo, irp);
}

// ---- Reads ------------------------------------------------------------------------------
void SendRead(PDEVICE_OBJECT fdo);

NTSTATUS ReadDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
    auto* read = static_cast<ReadContext*>(context);
    const NTSTATUS status = irp->IoStatus.Status;
    const ULONG_PTR bytes = irp->IoStatus.Information;
    bool again = false;
    if (NT_SUCCESS(status) && bytes > read->buffer.size())
        km::Fault("a read request completed with more bytes than its buffer holds");
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_devices.find(read->fdo);
        if (it != g_devices.end()) {
            DeviceInfo& info = it->second.info;
            --info.readsOutstanding;
            if (NT_SUCCESS(status)) {
                const size_t n = std::min<size_t>(bytes, read->buffer.size());
                info.reports.emplace_back(read->buffer.begin(), read->buffer.begin() + n);
            } else {
                info.readFailures.push_back(status);
            }
            // A failed read is not repeated: the device is stopping or broken.
            again = it->second.readsRunning && NT_SUCCESS(status);
        }
    }
    const PDEVICE_OBJECT fdo = read->fdo;
    IoFreeIrp(irp);
    delete read;
    if (again)
        SendRead(fdo);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void SendRead(PDEVICE_OBJECT fdo) {
    auto* read = new ReadContext{fdo, {}};
    {
        std::lock_guard<std::mutex> guard(g_lock);
        DeviceInfo& info = g_devices.at(fdo).info;
        read->buffer.assign(info.readLength, 0);
        ++info.readsOutstanding;
    }
    PIRP irp = IoAllocateIrp(fdo->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->UserBuffer = read->buffer.data();
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    sp->Parameters.DeviceIoControl.IoControlCode = IOCTL_HID_READ_REPORT;
    sp->Parameters.DeviceIoControl.OutputBufferLength = ULONG(read->buffer.size());
    IoSetCompletionRoutine(irp, ReadDone, read, TRUE, TRUE, TRUE);
    IofCallDriver(fdo, irp);
}

void StartReads(PDEVICE_OBJECT fdo) {
    bool polled;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        Device& device = g_devices.at(fdo);
        polled = g_minidrivers.at(device.driver).registration.DevicesArePolled;
        device.readsRunning = !polled;
    }
    // Polled minidrivers are read by the class driver's own poll, which is
    // to be added here; the non-polled ones hold our reads until they have data.
    if (polled)
        return;
    for (int n = 0; n < kOutstandingReads; ++n)
        SendRead(fdo);
}

// Reads still held below come back when the driver below fails them, as it
// does when it stops or leaves; they are not sent again.
void StopReads(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).readsRunning = false;
}

// ---- Start -------------------------------------------------------------------------------
NTSTATUS FetchOne(PDEVICE_OBJECT fdo, ULONG code, PVOID buffer, ULONG length) {
    InternalRequest request;
    request.code = code;
    request.buffer = buffer;
    request.outputLength = length;
    return SendInternal(fdo, request).status;
}

// After a start, as the platform's class driver does: the attributes (into a
// zeroed buffer), the HID descriptor, then the report descriptor at the length
// that the HID descriptor gives.
NTSTATUS FetchDescriptors(PDEVICE_OBJECT fdo, DeviceInfo& out) {
    NTSTATUS status =
        FetchOne(fdo, IOCTL_HID_GET_DEVICE_ATTRIBUTES, &out.attributes, sizeof out.attributes);
    if (!NT_SUCCESS(status))
        return status;
    status = FetchOne(fdo, IOCTL_HID_GET_DEVICE_DESCRIPTOR, &out.hidDescriptor,
                      sizeof out.hidDescriptor);
    if (!NT_SUCCESS(status))
        return status;
    if (out.hidDescriptor.bNumDescriptors < 1 ||
        out.hidDescriptor.DescriptorList[0].bReportType != HID_REPORT_DESCRIPTOR_TYPE)
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    out.reportDescriptor.assign(out.hidDescriptor.DescriptorList[0].wReportLength, 0);
    return FetchOne(fdo, IOCTL_HID_GET_REPORT_DESCRIPTOR, out.reportDescriptor.data(),
                    ULONG(out.reportDescriptor.size()));
}

NTSTATUS StartDevice(PDEVICE_OBJECT fdo, PIRP irp) {
    const NTSTATUS status = CallMinidriver(fdo, irp);
    if (!NT_SUCCESS(status) || status == STATUS_PENDING)
        return status;
    DeviceInfo fetched;
    const NTSTATUS fetch = FetchDescriptors(fdo, fetched);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        DeviceInfo& info = g_devices.at(fdo).info;
        info.descriptorStatus = fetch;
        info.attributes = fetched.attributes;
        info.hidDescriptor = fetched.hidDescriptor;
        info.reportDescriptor = fetched.reportDescriptor;
        info.started = NT_SUCCESS(fetch);
    }
    if (NT_SUCCESS(fetch))
        StartReads(fdo);
    return status;
}

void DeleteDevice(PDEVICE_OBJECT fdo) {
    {
        std::unique_lock<std::mutex> guard(g_lock);
        auto it = g_devices.find(fdo);
        it->second.deleting = true;
        g_pollsDone.wait(guard, [&] { return it->second.pollsInFlight == 0; });
        if (it->second.info.readsOutstanding != 0) {
            // Deleting it now would leave those requests pointing at freed memory.
            km::Fault("HID class: removal with read requests still held below");
            return;
        }
        g_devices.erase(it);
    }
    IoDetachDevice(Lower(fdo));
    IoDeleteDevice(fdo);
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT fdo, PIRP irp) {
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartDevice(fdo, irp);
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        StopReads(fdo);
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_devices.at(fdo).info.started = false;
        }
        return CallMinidriver(fdo, irp);
    case IRP_MN_REMOVE_DEVICE: {
        StopReads(fdo);
        const NTSTATUS status = CallMinidriver(fdo, irp);
        DeleteDevice(fdo);
        return status;
    }
    default:
        return CallMinidriver(fdo, irp);
    }
}

// Installed for every major function of a registered minidriver's driver
// object. Requests to device objects the class driver did not make (none in
// practice) go straight to the minidriver.
NTSTATUS ClassDispatch(PDEVICE_OBJECT device, PIRP irp) {
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    bool ours;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        ours = g_devices.count(device) != 0;
    }
    PDRIVER_DISPATCH routine = SavedDispatch(device, major);
    if (!ours)
        return routine ? routine(device, irp) : CompleteIrp(irp, STATUS_NOT_SUPPORTED);
    switch (major) {
    case IRP_MJ_PNP:
        return DispatchPnp(device, irp);
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
        return routine ? routine(device, irp) : CompleteIrp(irp, STATUS_SUCCESS);
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        return routine ? routine(device, irp) : CompleteIrp(irp, STATUS_NOT_SUPPORTED);
    case IRP_MJ_POWER:
        if (routine)
            return routine(device, irp);
        PoStartNextPowerIrp(irp);
        IoSkipCurrentIrpStackLocation(irp);
        return PoCallDriver(Lower(device), irp);
    default:
        return routine ? routine(device, irp) : PassDown(device, irp);
    }
}

NTSTATUS ClassAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDRIVER_ADD_DEVICE addDevice;
    ULONG extensionSize;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const Minidriver& mini = g_minidrivers.at(driver);
        addDevice = mini.addDevice;
        extensionSize = mini.registration.DeviceExtensionSize;
    }
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, ULONG(sizeof(HID_DEVICE_EXTENSION) + extensionSize),
                                     nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status))
        return status;
    auto* hid = static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension);
    hid->PhysicalDeviceObject = pdo;
    hid->NextDeviceObject = IoAttachDeviceToDeviceStack(fdo, pdo);
    hid->MiniDeviceExtension = hid + 1;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        Device& device = g_devices[fdo];
        device.driver = driver;
        device.info.fdo = fdo;
        device.info.pdo = pdo;
        device.info.lower = hid->NextDeviceObject;
    }
    status = addDevice ? addDevice(driver, fdo) : STATUS_SUCCESS;
    if (!NT_SUCCESS(status)) {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_devices.erase(fdo);
        }
        IoDetachDevice(hid->NextDeviceObject);
        IoDeleteDevice(fdo);
    }
    return status;
}

VOID ClassUnload(PDRIVER_OBJECT driver) {
    if (PDRIVER_UNLOAD unload = MinidriverUnload(driver))
        unload(driver);
}

NTSTATUS InternalDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

void SetRegistrationStatus(NTSTATUS status) {
    HookReset();
    std::lock_guard<std::mutex> guard(g_lock);
    g_registrationStatus = status;
}

const HID_MINIDRIVER_REGISTRATION* Registration(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() ? nullptr : &it->second.registration;
}

PDRIVER_DISPATCH MinidriverDispatch(PDRIVER_OBJECT driver, UCHAR major) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() || major > IRP_MJ_MAXIMUM_FUNCTION
               ? nullptr
               : it->second.dispatch[major];
}

PDRIVER_ADD_DEVICE MinidriverAddDevice(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() ? nullptr : it->second.addDevice;
}

PDRIVER_UNLOAD MinidriverUnload(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_minidrivers.find(driver);
    return it == g_minidrivers.end() ? nullptr : it->second.unload;
}

void Unregister(PDRIVER_OBJECT driver) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& [fdo, device] : g_devices)
        if (device.driver == driver)
            km::Fault("HID class: minidriver unregistered while its device objects exist");
    g_minidrivers.erase(driver);
}

PDEVICE_OBJECT FunctionalDevice(PDEVICE_OBJECT pdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto& [fdo, device] : g_devices)
        if (device.info.pdo == pdo)
            return fdo;
    return nullptr;
}

DeviceInfo Device(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_devices.find(fdo);
    return it == g_devices.end() ? DeviceInfo{} : it->second.info;
}

void SetReadLength(PDEVICE_OBJECT fdo, ULONG length) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).info.readLength = length;
}

PolledRead PollRead(PDEVICE_OBJECT fdo, KIRQL irql) {
    PolledRead read;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_devices.find(fdo);
        if (it == g_devices.end() || it->second.deleting) {
            read.status = STATUS_NO_SUCH_DEVICE;
            return read;
        }
        ++it->second.pollsInFlight;
        read.report.assign(it->second.info.readLength, 0);
    }
    InternalRequest request;
    request.code = IOCTL_HID_READ_REPORT;
    request.buffer = read.report.data();
    request.outputLength = ULONG(read.report.size());
    InternalCall* call = nullptr;
    // Only the call runs at the chosen level; the class driver's own wait
    // for the completion does not.
    km::AtIrql(irql, [&] { call = StartInternal(fdo, request); });
    const RequestResult result = FinishInternal(call);
    read.status = result.status;
    read.information = result.information;
    if (NT_SUCCESS(read.status) && read.information > read.report.size())
        km::Fault("a read request completed with more bytes than its buffer holds");
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto& device = g_devices.at(fdo);
        if (NT_SUCCESS(read.status))
            device.info.reports.emplace_back(read.report.begin(),
                                             read.report.begin() + read.information);
        else
            device.info.readFailures.push_back(read.status);
        if (--device.pollsInFlight == 0)
            g_pollsDone.notify_all();
    }
    return read;
}

std::vector<PolledRead> PollReads(PDEVICE_OBJECT fdo, int count, KIRQL irql) {
    std::vector<PolledRead> reads;
    for (int i = 0; i < count; ++i) {
        reads.push_back(PollRead(fdo, irql));
        double interval;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            auto it = g_devices.find(fdo);
            interval =
                it == g_devices.end() ? kDefaultPollIntervalUs : it->second.info.pollIntervalUs;
        }
        km::AdvanceUs(interval);
    }
    return reads;
}

void SetPollIntervalUs(PDEVICE_OBJECT fdo, double us) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_devices.at(fdo).info.pollIntervalUs = us;
}

std::vector<std::vector<UCHAR>> TakeReports(PDEVICE_OBJECT fdo) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::vector<std::vector<UCHAR>> out;
    auto it = g_devices.find(fdo);
    if (it != g_devices.end())
        out.swap(it->second.info.reports);
    return out;
}

InternalCall* StartInternal(PDEVICE_OBJECT fdo, const InternalRequest& request) {
    auto* call = new InternalCall;
    KeInitializeEvent(&call->done, NotificationEvent, FALSE);
    PIRP irp = IoAllocateIrp(fdo->StackSize, FALSE);
    irp->IoStatus.Status = request.presetStatus;
    irp->IoStatus.Information = request.presetInformation;
    irp->UserBuffer = request.buffer;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    sp->Parameters.DeviceIoControl.IoControlCode = request.code;
    sp->Parameters.DeviceIoControl.OutputBufferLength = request.outputLength;
    sp->Parameters.DeviceIoControl.InputBufferLength = request.inputLength;
    sp->Parameters.DeviceIoControl.Type3InputBuffer = request.inputBuffer;
    IoSetCompletionRoutine(irp, InternalDone, &call->done, TRUE, TRUE, TRUE);
    call->irp = irp;
    call->returned = IofCallDriver(fdo, irp);
    if (call->returned != STATUS_PENDING && !Completed(call))
        km::Fault("a dispatch routine returned " + km::StatusName(call->returned) +
                  " without completing the request");
    return call;
}

NTSTATUS Returned(const InternalCall* call) {
    return call->returned;
}

bool Completed(InternalCall* call) {
    return KeReadStateEvent(&call->done) != 0;
}

RequestResult FinishInternal(InternalCall* call) {
    KeWaitForSingleObject(&call->done, Executive, KernelMode, FALSE, nullptr);
    RequestResult result;
    result.returned = call->returned;
    result.status = call->irp->IoStatus.Status;
    result.information = call->irp->IoStatus.Information;
    IoFreeIrp(call->irp);
    delete call;
    return result;
}

RequestResult SendInternal(PDEVICE_OBJECT fdo, const InternalRequest& request) {
    return FinishInternal(StartInternal(fdo, request));
}

} // namespace sim::hid

// The registration entry of the class driver. It checks the record as the
// platform does, then takes over the driver object's entries.
extern "C" NTSTATUS NTAPI HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION registration) {
    using namespace sim::hid;
    HookReset();
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        km::Fault("HidRegisterMinidriver above PASSIVE_LEVEL");
    if (!registration)
        return STATUS_INVALID_PARAMETER;
    if (registration->Revision != HID_REVISION)
        return STATUS_REVISION_MISMATCH;
    PDRIVER_OBJECT driver = registration->DriverObject;
    // The device object's size field is 16 bits wide.
    const size_t deviceBytes = sizeof(DEVICE_OBJECT) + sizeof(HID_DEVICE_EXTENSION) +
                               size_t(registration->DeviceExtensionSize);
    if (!driver || !driver->DriverExtension || !registration->RegistryPath || deviceBytes > 0xFFFF)
        return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    if (!NT_SUCCESS(g_registrationStatus))
        return g_registrationStatus;
    if (g_minidrivers.count(driver))
        return STATUS_INVALID_PARAMETER;
    Minidriver& mini = g_minidrivers[driver];
    mini.registration = *registration;
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        mini.dispatch[major] = driver->MajorFunction[major];
        driver->MajorFunction[major] = ClassDispatch;
    }
    mini.addDevice = driver->DriverExtension->AddDevice;
    mini.unload = driver->DriverUnload;
    driver->DriverExtension->AddDevice = ClassAddDevice;
    driver->DriverUnload = ClassUnload;
    return STATUS_SUCCESS;
}
