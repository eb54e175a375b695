// POSIX backend of window notification: a window is a registered sink, called on the
// sender's thread, so a test sees every message with its parameters in order.
#include <map>
#include <mutex>

#include "platform/cancel.h"
#include "platform/notify.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::map<uintptr_t, NotifySink> g_sinks;
uintptr_t g_nextHandle = 0x1000;

}  // namespace

bool IsWindowHandle(WindowHandle wnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return wnd != nullptr && g_sinks.count(reinterpret_cast<uintptr_t>(wnd)) != 0;
}

intptr_t SendNotify(WindowHandle wnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (ThreadCancelled()) return 0;
    NotifySink sink;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_sinks.find(reinterpret_cast<uintptr_t>(wnd));
        if (it == g_sinks.end()) return 0;
        sink = it->second;
    }
    return sink ? sink(message, wParam, lParam) : 0;
}

WindowHandle RegisterNotifySink(NotifySink sink) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uintptr_t h = g_nextHandle;
    g_nextHandle += 0x10;
    g_sinks[h] = std::move(sink);
    return reinterpret_cast<WindowHandle>(h);
}

void UnregisterNotifySink(WindowHandle wnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sinks.erase(reinterpret_cast<uintptr_t>(wnd));
}

}  // namespace platform
