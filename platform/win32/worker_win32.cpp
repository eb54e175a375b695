// Win32 backend of the worker thread: CreateThread, and a wait that lets messages sent to the
// waiting thread's windows through.
#include "platform/worker.h"

#include <windows.h>

#include "platform/debuglog.h"

namespace platform {
namespace {

constexpr DWORD kNoLimit = 0xFFFFFFFFu;

DWORD WINAPI Run(LPVOID arg) {
    std::function<void()>* routine = static_cast<std::function<void()>*>(arg);
    (*routine)();
    delete routine;
    return 1;
}

}  // namespace

ThreadHandle StartThread(std::function<void()> routine, uint32_t* threadId) {
    auto* copy = new std::function<void()>(std::move(routine));
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, Run, copy, CREATE_SUSPENDED, &id);
    if (h == nullptr) {
        DWORD err = GetLastError();
        DebugLog(L"CreateThread failed: %u\n", static_cast<unsigned>(err));
        delete copy;
        SetLastError(err);
        return kNoThread;
    }
    if (threadId != nullptr) *threadId = id;
    if (ResumeThread(h) == static_cast<DWORD>(-1)) {
        DebugLog(L"ResumeThread failed: %u\n", static_cast<unsigned>(GetLastError()));
    }
    return reinterpret_cast<ThreadHandle>(h);
}

bool WaitThread(ThreadHandle thread, uint32_t ms) {
    if (thread == kNoThread) return true;
    HANDLE h = reinterpret_cast<HANDLE>(thread);
    DWORD start = GetTickCount();
    for (;;) {
        DWORD remaining = kNoLimit;
        if (ms != kNoLimit) {
            DWORD spent = GetTickCount() - start;
            remaining = spent >= ms ? 0 : ms - spent;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, remaining, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r == WAIT_OBJECT_0 + 1) {
            // Peeking dispatches the messages other threads sent to this thread's windows.
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (r == WAIT_TIMEOUT) return false;
        DebugLog(L"MsgWaitForMultipleObjects failed: %u\n", static_cast<unsigned>(GetLastError()));
        return WaitForSingleObject(h, remaining) == WAIT_OBJECT_0;
    }
}

void CloseThread(ThreadHandle thread) {
    if (thread == kNoThread) return;
    if (!CloseHandle(reinterpret_cast<HANDLE>(thread))) {
        DebugLog(L"CloseHandle(thread) failed: %u\n", static_cast<unsigned>(GetLastError()));
    }
}

}  // namespace platform
