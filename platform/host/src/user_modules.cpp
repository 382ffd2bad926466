// Host user-mode model: loading modules by file name, as registered by a test.
#include "user_roles.h"

#include <map>
#include <mutex>

namespace {

struct Module {
    std::string name;
    std::vector<std::pair<std::string, void*>> exports;
    int loads = 0;
};

std::mutex g_Lock;
// By folded name; a module's address is its handle, so entries are never moved.
std::map<std::string, Module> g_Modules;

Module* FindByHandle(HMODULE handle) {
    for (auto& [key, module] : g_Modules)
        if (reinterpret_cast<HMODULE>(&module) == handle)
            return &module;
    return nullptr;
}

} // namespace

namespace um {

void ResetModules() {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Modules.clear();
}

void RegisterModule(const std::string& name,
                    const std::vector<std::pair<std::string, void*>>& exports) {
    std::lock_guard<std::mutex> hold(g_Lock);
    Module& module = g_Modules[FoldCase(name)];
    module.name = name;
    module.exports = exports;
}

void UnregisterModule(const std::string& name) {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Modules.erase(FoldCase(name));
}

int LoadedModuleCount() {
    std::lock_guard<std::mutex> hold(g_Lock);
    int loads = 0;
    for (auto& [key, module] : g_Modules)
        loads += module.loads;
    return loads;
}

} // namespace um

HMODULE LoadLibraryA(LPCSTR name) {
    um::LogCall(std::string("LoadLibraryA ") + (name ? name : "(null)"));
    if (!name)
        return nullptr;
    std::lock_guard<std::mutex> hold(g_Lock);
    auto it = g_Modules.find(um::FoldCase(name));
    if (it == g_Modules.end())
        return nullptr;
    ++it->second.loads;
    return reinterpret_cast<HMODULE>(&it->second);
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR name) {
    um::LogCall(std::string("GetProcAddress ") + (name ? name : "(null)"));
    std::lock_guard<std::mutex> hold(g_Lock);
    Module* module = FindByHandle(handle);
    if (!module || module->loads == 0 || !name)
        return nullptr;
    for (auto& [exportName, address] : module->exports)
        if (exportName == name) // export names match with case
            return reinterpret_cast<FARPROC>(address);
    return nullptr;
}

BOOL FreeLibrary(HMODULE handle) {
    std::lock_guard<std::mutex> hold(g_Lock);
    Module* module = FindByHandle(handle);
    if (!module || module->loads == 0) {
        um::LogCall("FreeLibrary (not loaded)");
        return FALSE;
    }
    um::LogCall("FreeLibrary " + module->name);
    --module->loads;
    return TRUE;
}
