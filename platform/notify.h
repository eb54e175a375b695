// Synchronous notification of a window by the command worker. Windows: real HWNDs, IsWindow
// and SendMessageW. POSIX: a registry of notification sinks, so tests see every message.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using WindowHandle = void*;

bool IsWindowHandle(WindowHandle wnd);

// Delivers the message and waits until it was handled. Returns the handler's answer, or 0
// without delivering when the calling thread's cancel token is (or becomes) cancelled.
intptr_t SendNotify(WindowHandle wnd, uint32_t message, uintptr_t wParam, intptr_t lParam);

// POSIX only: a window stand-in. The sink runs on the sender's thread.
using NotifySink = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
WindowHandle RegisterNotifySink(NotifySink sink);
void UnregisterNotifySink(WindowHandle wnd);  // afterwards IsWindowHandle(wnd) is false

}  // namespace platform
