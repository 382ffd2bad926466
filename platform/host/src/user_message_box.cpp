// Host user-mode model: message boxes, recorded and closed at once with OK.
#include "user_roles.h"

#include <mutex>

namespace {
std::mutex g_Lock;
std::vector<um::MessageBoxRecord> g_Boxes;
} // namespace

namespace um {

void ResetMessageBoxes() {
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Boxes.clear();
}

std::vector<MessageBoxRecord> MessageBoxes() {
    std::lock_guard<std::mutex> hold(g_Lock);
    return g_Boxes;
}

} // namespace um

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
    um::LogCall(std::string("MessageBoxA ") + (caption ? caption : "(null)"));
    std::lock_guard<std::mutex> hold(g_Lock);
    g_Boxes.push_back({owner, text ? text : "", caption ? caption : "", flags});
    return IDOK;
}
