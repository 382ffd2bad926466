// Inside the host user-mode model: how its parts reset and route calls to one another.
#pragma once

#include "user_model.h"

#include <string>

namespace um {

void CloseAllFiles();     // user_files.cpp
void ResetCallLog();      // user_model.cpp
void ResetServices();     // user_services.cpp
void ResetModules();      // user_modules.cpp
void ResetDevices();      // user_devices.cpp
void ResetMessageBoxes(); // user_message_box.cpp
void ResetHeap();         // user_heap.cpp

// Device paths ("\\.\NAME") go to the device part, not to the files.
bool IsDevicePath(const char* path);
HANDLE OpenDevice(const char* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                  DWORD disposition, DWORD flags, HANDLE templateFile);
// True when `handle` was an open device handle, which is then closed.
bool CloseDevice(HANDLE handle);

// The names of the platform match without regard to case.
std::string FoldCase(std::string text);

} // namespace um
