// Request handling of the host kernel model: driver and device objects, IRPs
// with their stack locations, IofCallDriver, IofCompleteRequest with completion
// routines, named devices and file-object references.
#include "kernel_model.h"
#include "object_names.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

struct HostDeviceState {
    std::u16string name;
    long openReferences = 0; // file objects handed out by IoGetDeviceObjectPointer
    bool everOpened = false;
};

struct HostIrpState {
    bool threaded = false; // built by IoBuildDeviceIoControlRequest: freed on completion
    bool completed = false;
    bool held = false; // sent and not yet completed: a driver owns it
    PVOID outputBuffer = nullptr;
    ULONG outputLength = 0;
    bool bufferedCopyBack = false;
};

namespace {
std::mutex g_ioLock;
std::set<PIRP> g_irps;
std::map<std::u16string, PDEVICE_OBJECT> g_names;
std::set<PFILE_OBJECT> g_fileObjects;
std::set<PDEVICE_OBJECT> g_devices;

} // namespace

namespace km {

void ResetIo() {
    std::lock_guard<std::mutex> guard(g_ioLock);
    for (PIRP irp : g_irps) {
        delete irp->Host;
        std::free(irp);
    }
    g_irps.clear();
    for (PFILE_OBJECT f : g_fileObjects)
        delete f;
    g_fileObjects.clear();
    g_names.clear();
    for (PDEVICE_OBJECT d : g_devices) {
        delete d->Host;
        std::free(d);
    }
    g_devices.clear();
}

size_t IrpsOutstanding() {
    std::lock_guard<std::mutex> guard(g_ioLock);
    return g_irps.size();
}

long OpenReferences(PDEVICE_OBJECT device) {
    std::lock_guard<std::mutex> guard(g_ioLock);
    return g_devices.count(device) ? device->Host->openReferences : 0;
}

PDRIVER_OBJECT CreateDriverObject(const char16_t* name) {
    auto* driver = new DRIVER_OBJECT{};
    driver->DriverExtension = new DRIVER_EXTENSION{};
    driver->DriverExtension->DriverObject = driver;
    RtlInitUnicodeString(&driver->DriverName, name);
    return driver;
}

void DeleteDriverObject(PDRIVER_OBJECT driver) {
    if (!driver)
        return;
    delete driver->DriverExtension;
    delete driver;
}

} // namespace km

extern "C" {

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, ULONG DeviceType, ULONG, BOOLEAN,
                        PDEVICE_OBJECT* DeviceObject) {
    std::u16string name = km::FoldCase(km::FromUnicode(DeviceName));
    std::lock_guard<std::mutex> guard(g_ioLock);
    if (!name.empty() && g_names.count(name))
        return STATUS_UNSUCCESSFUL;
    size_t size = sizeof(DEVICE_OBJECT) + DeviceExtensionSize;
    auto* device = static_cast<PDEVICE_OBJECT>(std::calloc(1, size));
    device->Size = USHORT(size);
    device->DriverObject = DriverObject;
    device->DeviceExtension = DeviceExtensionSize ? device + 1 : nullptr;
    device->DeviceType = DeviceType;
    device->StackSize = 1;
    device->Flags = DO_DEVICE_INITIALIZING;
    device->Host = new HostDeviceState{};
    device->Host->name = name;
    if (!name.empty())
        g_names[name] = device;
    device->NextDevice = DriverObject->DeviceObject;
    DriverObject->DeviceObject = device;
    g_devices.insert(device);
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    std::lock_guard<std::mutex> guard(g_ioLock);
    if (!g_devices.count(DeviceObject)) {
        km::Fault("IoDeleteDevice of a device that does not exist");
        return;
    }
    if (DeviceObject->Host->openReferences > 0)
        km::Fault("IoDeleteDevice while file objects still reference the device");
    PDRIVER_OBJECT driver = DeviceObject->DriverObject;
    for (PDEVICE_OBJECT* p = &driver->DeviceObject; *p; p = &(*p)->NextDevice)
        if (*p == DeviceObject) {
            *p = DeviceObject->NextDevice;
            break;
        }
    if (!DeviceObject->Host->name.empty())
        g_names.erase(DeviceObject->Host->name);
    g_devices.erase(DeviceObject);
    delete DeviceObject->Host;
    std::memset(DeviceObject, 0xDD, DeviceObject->Size);
    std::free(DeviceObject);
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice,
                                           PDEVICE_OBJECT TargetDevice) {
    PDEVICE_OBJECT top = TargetDevice;
    while (top->AttachedDevice)
        top = top->AttachedDevice;
    top->AttachedDevice = SourceDevice;
    SourceDevice->StackSize = CCHAR(top->StackSize + 1);
    return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice) {
    TargetDevice->AttachedDevice = nullptr;
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING ObjectName, ACCESS_MASK, PFILE_OBJECT* FileObject,
                                  PDEVICE_OBJECT* DeviceObject) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        km::Fault("IoGetDeviceObjectPointer above PASSIVE_LEVEL");
    std::lock_guard<std::mutex> guard(g_ioLock);
    auto it = g_names.find(km::FoldCase(km::FromUnicode(ObjectName)));
    if (it == g_names.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    PDEVICE_OBJECT device = it->second;
    while (device->AttachedDevice)
        device = device->AttachedDevice;
    auto* file = new FILE_OBJECT{};
    file->DeviceObject = it->second;
    g_fileObjects.insert(file);
    ++it->second->Host->openReferences;
    it->second->Host->everOpened = true;
    *FileObject = file;
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

VOID ObfDereferenceObject(PVOID Object) {
    std::lock_guard<std::mutex> guard(g_ioLock);
    auto* file = static_cast<PFILE_OBJECT>(Object);
    if (!g_fileObjects.count(file)) {
        km::Fault("ObfDereferenceObject of an object whose last reference is gone");
        return;
    }
    if (g_devices.count(file->DeviceObject))
        --file->DeviceObject->Host->openReferences;
    g_fileObjects.erase(file);
    delete file;
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
    size_t size = sizeof(IRP) + size_t(StackSize) * sizeof(IO_STACK_LOCATION);
    auto* irp = static_cast<PIRP>(std::calloc(1, size));
    irp->Size = USHORT(size);
    irp->StackCount = StackSize;
    irp->CurrentLocation = CCHAR(StackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + StackSize;
    irp->Host = new HostIrpState{};
    std::lock_guard<std::mutex> guard(g_ioLock);
    g_irps.insert(irp);
    return irp;
}

VOID IoFreeIrp(PIRP Irp) {
    {
        std::lock_guard<std::mutex> guard(g_ioLock);
        if (!g_irps.count(Irp)) {
            km::Fault("IoFreeIrp of a request that does not exist");
            return;
        }
        if (Irp->Host->held) {
            // The driver that holds it may still complete it: it stays.
            km::Fault("IoFreeIrp of a request sent and not yet completed");
            return;
        }
        g_irps.erase(Irp);
    }
    if (Irp->AssociatedIrp.SystemBuffer && Irp->Host->bufferedCopyBack)
        std::free(Irp->AssociatedIrp.SystemBuffer);
    delete Irp->Host;
    std::memset(Irp, 0xDD, Irp->Size);
    std::free(Irp);
}

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                   PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength, BOOLEAN InternalDeviceIoControl,
                                   PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock) {
    PIRP irp = IoAllocateIrp(DeviceObject->StackSize, FALSE);
    irp->Host->threaded = true;
    irp->UserEvent = Event;
    irp->UserIosb = IoStatusBlock;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction =
        InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    next->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    switch (IoControlCode & 3) {
    case METHOD_BUFFERED: {
        ULONG length = std::max(InputBufferLength, OutputBufferLength);
        void* system = std::calloc(1, length ? length : 1);
        if (InputBuffer && InputBufferLength)
            std::memcpy(system, InputBuffer, InputBufferLength);
        irp->AssociatedIrp.SystemBuffer = system;
        irp->Host->bufferedCopyBack = true;
        irp->Host->outputBuffer = OutputBuffer;
        irp->Host->outputLength = OutputBufferLength;
        break;
    }
    case METHOD_NEITHER:
        next->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
        irp->UserBuffer = OutputBuffer;
        break;
    default:
        km::Fault("IoBuildDeviceIoControlRequest: direct I/O is not modelled");
        break;
    }
    return irp;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    {
        std::lock_guard<std::mutex> guard(g_ioLock);
        if (!g_devices.count(DeviceObject)) {
            km::Fault("IofCallDriver to a device that does not exist");
            return STATUS_INVALID_PARAMETER;
        }
        if (DeviceObject->Host->everOpened && DeviceObject->Host->openReferences == 0)
            km::Fault("IofCallDriver to a device whose last reference is gone");
    }
    if (Irp->CurrentLocation <= 1) {
        km::Fault("IofCallDriver: no more stack locations");
        return STATUS_INVALID_PARAMETER;
    }
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
    Irp->Host->held = true;
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
    sp->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[sp->MajorFunction];
    if (!dispatch) {
        Irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        Irp->IoStatus.Information = 0;
        IofCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_NOT_SUPPORTED;
    }
    const KIRQL irql = KeGetCurrentIrql();
    const int locks = km::SpinLocksHeld();
    NTSTATUS status = dispatch(DeviceObject, Irp);
    if (km::SpinLocksHeld() != locks)
        km::Fault("a dispatch routine returned holding a spin lock");
    if (KeGetCurrentIrql() != irql)
        km::Fault("a dispatch routine returned at another IRQL");
    return status;
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    return IofCallDriver(DeviceObject, Irp);
}

VOID PoStartNextPowerIrp(PIRP) {}

VOID IofCompleteRequest(PIRP Irp, CCHAR) {
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        km::Fault("IofCompleteRequest above DISPATCH_LEVEL");
    if (Irp->CurrentLocation > Irp->StackCount || Irp->Host->completed) {
        km::Fault("IofCompleteRequest: the request was already completed");
        return;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING)
        km::Fault("IofCompleteRequest with status STATUS_PENDING");
    Irp->Host->held = false;
    // Walk up the stack; each location's completion routine runs with the
    // device of the location above it, as the driver that set it sees it.
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
        Irp->PendingReturned = (sp->Control & SL_PENDING_RETURNED) != 0;
        PIO_COMPLETION_ROUTINE routine = sp->CompletionRoutine;
        PVOID context = sp->Context;
        UCHAR control = sp->Control;
        IoSkipCurrentIrpStackLocation(Irp);
        const NTSTATUS status = Irp->IoStatus.Status;
        const bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                        (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                        (Irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                                        ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                                        : nullptr;
            if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED)
                return;
        } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
            IoMarkIrpPending(Irp);
        }
    }
    Irp->Host->completed = true;
    if (Irp->UserIosb)
        *Irp->UserIosb = Irp->IoStatus;
    if (Irp->Host->threaded) {
        if (Irp->Host->outputBuffer && NT_SUCCESS(Irp->IoStatus.Status)) {
            size_t n = std::min<size_t>(Irp->IoStatus.Information, Irp->Host->outputLength);
            std::memcpy(Irp->Host->outputBuffer, Irp->AssociatedIrp.SystemBuffer, n);
        }
        PKEVENT event = Irp->UserEvent;
        IoFreeIrp(Irp);
        if (event)
            KeSetEvent(event, IO_NO_INCREMENT, FALSE);
        return;
    }
    if (Irp->UserEvent)
        KeSetEvent(Irp->UserEvent, IO_NO_INCREMENT, FALSE);
}

} // extern "C"
