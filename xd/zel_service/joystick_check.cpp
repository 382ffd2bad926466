// zel_svc.dll, the joystick check that the start-up service loads by name: a joystick counts
// as present when a present device of the HID class is served by the zel_hidg driver.
#include <windows.h>

#include <setupapi.h>

namespace {

// {745a17a0-74d3-11d0-b6fe-00a0c90f57da}, the HID device setup class.
const GUID kHidClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

bool ServedByJoystickDriver(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    char service[64] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(devices, device, SPDRP_SERVICE, &type,
                                           reinterpret_cast<BYTE*>(service), sizeof service - 1,
                                           nullptr))
        return false;
    return type == REG_SZ && lstrcmpiA(service, "zel_hidg") == 0;
}

} // namespace

// No other outcome than true or false: every failure of the lookup counts as no joystick.
extern "C" BOOLEAN WINAPI ComprobarJoysticks() {
    HDEVINFO devices = SetupDiGetClassDevsA(&kHidClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return FALSE;
    bool found = false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(devices, index, &device); ++index)
        found = ServedByJoystickDriver(devices, &device);
    SetupDiDestroyDeviceInfoList(devices);
    return found ? TRUE : FALSE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return TRUE;
}
