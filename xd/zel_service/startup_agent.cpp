// The startup agent of zel_svc: the joystick check at start and the keyboard interface signal.
#include "service.h"

namespace zel_svc {

void* StartupAgent::operator new(size_t size, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void StartupAgent::operator delete(void* agent) noexcept {
    if (agent)
        HeapFree(GetProcessHeap(), 0, agent);
}

bool StartupAgent::RunStartupCheck() {
    HMODULE library = LoadLibraryA(kCheckLibrary);
    if (!library)
        return false;
    bool passed = false;
    auto check =
        reinterpret_cast<CheckProc>(reinterpret_cast<void*>(GetProcAddress(library, kCheckEntry)));
    if (check)
        passed = check() != 0; // a one-byte result: whatever else the register holds is ignored
    FreeLibrary(library);
    if (!passed)
        return false;
    // A missing device or a refused request is shown but does not stop the service.
    SignalKeyboardInterface();
    return true;
}

void StartupAgent::SignalKeyboardInterface() {
    HANDLE device = CreateFileA(kKeyboardDevice, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        ShowTranslatedMessage(nullptr, kMessageCannotOpen, "[Zel-Service][1.1]", kWarningBox);
        return;
    }
    DWORD returned = 0;
    if (!DeviceIoControl(device, kKeyboardSignal, nullptr, 0, nullptr, 0, &returned, nullptr))
        ShowTranslatedMessage(nullptr, kMessageRefused, "[Zel-Service][1.2]", kWarningBox);
    CloseHandle(device);
}

} // namespace zel_svc
