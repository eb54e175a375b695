// Win32 backend of window notification: real windows, IsWindow and SendMessageW.
#include <windows.h>

#include "platform/cancel.h"
#include "platform/notify.h"

namespace platform {

bool IsWindowHandle(WindowHandle wnd) {
    return wnd != nullptr && IsWindow(static_cast<HWND>(wnd)) != FALSE;
}

intptr_t SendNotify(WindowHandle wnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    // A stopped worker must not start a send the stopping thread might never answer.
    if (ThreadCancelled()) return 0;
    return static_cast<intptr_t>(SendMessageW(
        static_cast<HWND>(wnd), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

// Windows has real windows; the sink registry is a stand-in for tests of the POSIX build.
WindowHandle RegisterNotifySink(NotifySink) {
    return nullptr;
}
void UnregisterNotifySink(WindowHandle) {}

}  // namespace platform
