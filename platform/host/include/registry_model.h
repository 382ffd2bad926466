// Controls of the host model's registry, for the tests and the simulated world.
//
// The registry is a tree of keys under "\Registry\..." whose names compare
// without regard to case, as the real configuration manager compares them.
// Each key holds named values, each a type and a byte string. km::Reset()
// empties it. Driver code reaches it only through ZwOpenKey, ZwQueryValueKey
// and ZwClose.
#pragma once

#include "host_kernel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace km {

// Creates the key and every key above it that is missing.
void CreateRegistryKey(const std::u16string& keyPath);
// Sets a value, creating its key as needed; an existing value of that name is replaced.
void SetRegistryValue(const std::u16string& keyPath, const std::u16string& name, ULONG type,
                      const std::vector<uint8_t>& data);
void DeleteRegistryValue(const std::u16string& keyPath, const std::u16string& name);
// Deletes the key with everything below it. Handles still open on it stay
// valid handles, but their queries answer STATUS_KEY_DELETED.
void DeleteRegistryKey(const std::u16string& keyPath);
void ClearRegistry();

// Key handles that ZwOpenKey handed out and ZwClose has not yet closed.
size_t OpenKeyHandles();
// Value queries made since the last reset, answered or not.
uint64_t RegistryQueries();

} // namespace km
