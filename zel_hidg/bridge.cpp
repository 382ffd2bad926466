// The bridge device "\Device\Zel_VmdF": its reference, the guard that keeps
// the reference alive while a read uses it, and the request exchange.
#include "bridge_exchange.h"

ZEL_PAGEABLE void OpenBridge(GameDeviceExtension* ext) {
    PAGED_CODE();
    // A start after a stop finds the reference of the earlier start.
    // BridgeUsers is left alone: a read that is just backing off from the
    // earlier release still owes its decrement.
    if (ext->BridgeFileObject)
        ReleaseBridge(ext);
    InterlockedExchange(&ext->BridgeClosing, 0);

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, ZEL_WIDE("\\Device\\Zel_VmdF"));
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    if (NT_SUCCESS(IoGetDeviceObjectPointer(&name, GENERIC_READ | GENERIC_WRITE, &file, &device))) {
        ext->BridgeDeviceObject = device;
        StoreShared(ext->BridgeFileObject, file);
    } else {
        StoreShared(ext->BridgeFileObject, PFILE_OBJECT(nullptr));
    }
}

ZEL_PAGEABLE void ReleaseBridge(GameDeviceExtension* ext) {
    PAGED_CODE();
    if (!ext->BridgeFileObject)
        return;
    // From here on every read skips the bridge; wait for those already in it.
    InterlockedExchange(&ext->BridgeClosing, 1);
    while (LoadShared(ext->BridgeUsers) != 0)
        KeWaitForSingleObject(&ext->BridgeIdle, Executive, KernelMode, FALSE, nullptr);
    PFILE_OBJECT file = ext->BridgeFileObject;
    StoreShared(ext->BridgeFileObject, PFILE_OBJECT(nullptr));
    ObDereferenceObject(file);
}

bool EnterBridge(GameDeviceExtension* ext) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL || !LoadShared(ext->BridgeFileObject))
        return false;
    InterlockedIncrement(&ext->BridgeUsers);
    if (LoadShared(ext->BridgeClosing) || !LoadShared(ext->BridgeFileObject)) {
        LeaveBridge(ext);
        return false;
    }
    return true;
}

void LeaveBridge(GameDeviceExtension* ext) {
    if (InterlockedDecrement(&ext->BridgeUsers) == 0 && LoadShared(ext->BridgeClosing))
        KeSetEvent(&ext->BridgeIdle, IO_NO_INCREMENT, FALSE);
}

BridgeReply SendBridgeRequest(GameDeviceExtension* ext, ULONG code, PUCHAR reply, ULONG length) {
    KEVENT done;
    IO_STATUS_BLOCK io;
    io.Status = STATUS_UNSUCCESSFUL;
    io.Information = 0;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, ext->BridgeDeviceObject, nullptr, 0, reply,
                                             length, TRUE, &done, &io);
    if (!irp)
        return BridgeReply::NotSent;
    NTSTATUS status = IoCallDriver(ext->BridgeDeviceObject, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = io.Status;
    }
    // A failed or short reply holds no usable bytes.
    if (!NT_SUCCESS(status) || io.Information < length)
        return BridgeReply::Unusable;
    return BridgeReply::Usable;
}
