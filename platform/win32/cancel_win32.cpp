// Win32 backend of the cancel token: a manual-reset event that overlapped serial waits and
// pauses wait on next to their own object.
#include "platform/cancel.h"

#include <windows.h>

#include "platform/platform.h"

namespace platform {

CancelToken::CancelToken() {
    HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_wait = ev == nullptr ? -1 : reinterpret_cast<intptr_t>(ev);
}

CancelToken::~CancelToken() {
    if (m_wait != -1) CloseHandle(reinterpret_cast<HANDLE>(m_wait));
}

void CancelToken::Cancel() {
    m_cancelled.store(true);
    if (m_wait != -1) SetEvent(reinterpret_cast<HANDLE>(m_wait));
}

void CancelToken::Reset() {
    m_cancelled.store(false);
    if (m_wait != -1) ResetEvent(reinterpret_cast<HANDLE>(m_wait));
}

bool SleepCancellable(uint32_t ms) {
    CancelToken* token = ThreadCancelToken();
    if (token == nullptr || token->WaitHandle() == -1) {
        Sleep(ms);
        return true;
    }
    if (token->IsCancelled()) return false;
    DWORD r = WaitForSingleObject(reinterpret_cast<HANDLE>(token->WaitHandle()), ms);
    return r == WAIT_TIMEOUT && !token->IsCancelled();
}

}  // namespace platform
