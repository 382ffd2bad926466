// Runs the kernel contract cases in zel_contract.sys under Wine: every case
// that is not marked for the host model only must hold in the real kernel.
// Usage: contract_check.exe (the driver service must be started).
#include "../windows/wine_check.h"
#include "contract_protocol.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1) {
        std::printf("usage: contract_check.exe\n"
                    "Runs the kernel contract cases in the started zel_contract driver.\n");
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    // The service may still be loading the driver.
    HANDLE device = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && device == INVALID_HANDLE_VALUE; ++attempt) {
        device = CreateFileA("\\\\.\\ZelContract", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            Sleep(100);
    }
    if (!CHECK(device != INVALID_HANDLE_VALUE))
        return WINE_CHECK_RESULT();

    for (unsigned int id = 0; id < contract::CaseCount; ++id) {
        const contract::CaseInfo& c = contract::kCases[id];
        if (c.hostOnly) {
            std::printf("host only  %-28s %s\n", c.name, c.hostOnly);
            continue;
        }
        contract::RunRequest request{id};
        contract::RunResult result{-2, 0};
        DWORD bytes = 0;
        const BOOL sent = DeviceIoControl(device, contract::kRunCaseCode, &request, sizeof request,
                                          &result, sizeof result, &bytes, nullptr);
        std::printf("%-10s %-28s", sent && result.failedLine == 0 ? "holds" : "FAILS", c.name);
        if (result.failedLine > 0)
            std::printf(" contract_cases.cpp:%d saw %u (0x%X)", result.failedLine, result.detail,
                        result.detail);
        std::printf("\n");
        CHECK(sent);
        CHECK_EQ(bytes, sizeof result);
        CHECK_EQ(result.failedLine, 0);
    }
    CloseHandle(device);
    return WINE_CHECK_RESULT();
}
