// Registry of the host kernel model: a key tree with typed values, read by the
// drivers through ZwOpenKey, ZwQueryValueKey and ZwClose, and filled by tests.
#include "kernel_model.h"
#include "object_names.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {

struct Value {
    std::u16string name; // as it was created; queries return this spelling
    ULONG type = REG_NONE;
    std::vector<uint8_t> data;
};

struct Key {
    uint64_t id = 0;                        // distinguishes a key from a later one of the same name
    std::map<std::u16string, Value> values; // by folded name
};

struct OpenKey {
    std::u16string path;
    uint64_t keyId;
};

std::mutex g_lock;
std::map<std::u16string, Key> g_keys; // by folded full path
std::map<HANDLE, OpenKey> g_handles;
uint64_t g_nextKeyId = 1;
uint64_t g_nextHandle = 1;
uint64_t g_queries = 0;

void ResetRegistry();

// The model's state is created lazily, so its reset hook is registered on first use
// (never from a static initialiser, whose order against the model core is unknown).
void EnsureResetHook() {
    static std::once_flag once;
    std::call_once(once, [] { km::OnReset(ResetRegistry); });
}

std::u16string FoldPath(const std::u16string& path) {
    std::u16string out = km::FoldCase(path);
    while (out.size() > 1 && out.back() == u'\\')
        out.pop_back();
    return out;
}

// Creates the key and its missing ancestors; g_lock held.
Key& CreateKeyLocked(const std::u16string& folded) {
    for (size_t at = folded.find(u'\\', 1); at != std::u16string::npos;
         at = folded.find(u'\\', at + 1)) {
        Key& parent = g_keys[folded.substr(0, at)];
        if (parent.id == 0)
            parent.id = g_nextKeyId++;
    }
    Key& key = g_keys[folded];
    if (key.id == 0)
        key.id = g_nextKeyId++;
    return key;
}

bool AtPassive(const char* routine) {
    if (KeGetCurrentIrql() == PASSIVE_LEVEL)
        return true;
    km::Fault(std::string(routine) + " above PASSIVE_LEVEL");
    return false;
}

void ResetRegistry() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_keys.clear();
    g_handles.clear();
    g_queries = 0;
}

} // namespace

namespace km {

void CreateRegistryKey(const std::u16string& keyPath) {
    EnsureResetHook();
    std::lock_guard<std::mutex> guard(g_lock);
    CreateKeyLocked(FoldPath(keyPath));
}

void SetRegistryValue(const std::u16string& keyPath, const std::u16string& name, ULONG type,
                      const std::vector<uint8_t>& data) {
    EnsureResetHook();
    std::lock_guard<std::mutex> guard(g_lock);
    Key& key = CreateKeyLocked(FoldPath(keyPath));
    key.values[km::FoldCase(name)] = Value{name, type, data};
}

void DeleteRegistryValue(const std::u16string& keyPath, const std::u16string& name) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_keys.find(FoldPath(keyPath));
    if (it != g_keys.end())
        it->second.values.erase(km::FoldCase(name));
}

void DeleteRegistryKey(const std::u16string& keyPath) {
    std::lock_guard<std::mutex> guard(g_lock);
    const std::u16string folded = FoldPath(keyPath);
    const std::u16string below = folded + u'\\';
    for (auto it = g_keys.begin(); it != g_keys.end();) {
        if (it->first == folded || it->first.compare(0, below.size(), below) == 0)
            it = g_keys.erase(it);
        else
            ++it;
    }
}

void ClearRegistry() {
    ResetRegistry();
}

size_t OpenKeyHandles() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_handles.size();
}

uint64_t RegistryQueries() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_queries;
}

} // namespace km

extern "C" {

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes) {
    EnsureResetHook();
    if (!AtPassive("ZwOpenKey"))
        return STATUS_UNSUCCESSFUL;
    if (!KeyHandle || !ObjectAttributes) {
        km::Fault("ZwOpenKey with a null handle or attributes pointer");
        return STATUS_INVALID_PARAMETER;
    }
    if (ObjectAttributes->Length != sizeof(OBJECT_ATTRIBUTES) || !ObjectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    // Kernel code runs in whatever process sent the request: a handle without
    // OBJ_KERNEL_HANDLE goes into that process's table, where it can use or close it.
    if (!(ObjectAttributes->Attributes & OBJ_KERNEL_HANDLE))
        km::Fault("ZwOpenKey without OBJ_KERNEL_HANDLE: a handle in the calling process");
    if (ObjectAttributes->RootDirectory) {
        km::Fault("ZwOpenKey relative to a root directory is not modelled");
        return STATUS_NOT_IMPLEMENTED;
    }
    const std::u16string path = FoldPath(km::FromUnicode(ObjectAttributes->ObjectName));
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_keys.find(path);
    if (it == g_keys.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    // Kernel handles have the top bit set; the value means nothing else.
    HANDLE handle = reinterpret_cast<HANDLE>(uintptr_t(0xFFFFFFFF80000000ull + 4 * g_nextHandle++));
    g_handles[handle] = OpenKey{path, it->second.id};
    *KeyHandle = handle;
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                         PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
    if (!AtPassive("ZwQueryValueKey"))
        return STATUS_UNSUCCESSFUL;
    if (KeyValueInformationClass != KeyValueFullInformation) {
        km::Fault("ZwQueryValueKey: only KeyValueFullInformation is modelled");
        return STATUS_NOT_IMPLEMENTED;
    }
    if (!ValueName || !ResultLength || (Length > 0 && !KeyValueInformation)) {
        km::Fault("ZwQueryValueKey with a null name, result length or buffer pointer");
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_queries;
    auto open = g_handles.find(KeyHandle);
    if (open == g_handles.end()) {
        km::Fault("ZwQueryValueKey on a handle that is not open");
        return STATUS_INVALID_HANDLE;
    }
    auto key = g_keys.find(open->second.path);
    if (key == g_keys.end() || key->second.id != open->second.keyId)
        return STATUS_KEY_DELETED;
    auto found = key->second.values.find(km::FoldCase(km::FromUnicode(ValueName)));
    if (found == key->second.values.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    const Value& value = found->second;

    // Fixed part, then the name, then the data at the next ULONG boundary.
    const ULONG fixed = ULONG(offsetof(KEY_VALUE_FULL_INFORMATION, Name));
    const ULONG nameBytes = ULONG(value.name.size() * sizeof(WCHAR));
    const ULONG dataOffset = (fixed + nameBytes + 3) & ~3u;
    const ULONG dataBytes = ULONG(value.data.size());
    const ULONG total = dataOffset + dataBytes;
    *ResultLength = total;
    if (Length < fixed)
        return STATUS_BUFFER_TOO_SMALL;

    KEY_VALUE_FULL_INFORMATION header{};
    header.TitleIndex = 0;
    header.Type = value.type;
    header.DataOffset = dataOffset;
    header.DataLength = dataBytes;
    header.NameLength = nameBytes;
    auto* out = static_cast<uint8_t*>(KeyValueInformation);
    std::memcpy(out, &header, fixed);
    if (Length < total) {
        // As much of the name as fits; no data.
        const ULONG room = Length - fixed;
        std::memcpy(out + fixed, value.name.data(), room < nameBytes ? room : nameBytes);
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(out + fixed, value.name.data(), nameBytes);
    if (dataBytes)
        std::memcpy(out + dataOffset, value.data.data(), dataBytes);
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE Handle) {
    if (!AtPassive("ZwClose"))
        return STATUS_UNSUCCESSFUL;
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_handles.erase(Handle) == 0) {
        km::Fault("ZwClose of a handle that is not open");
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}

} // extern "C"
