// Cooperative cancellation of a worker thread: every place the worker can block (serial waits,
// pauses, notifications) looks at the token of its own thread, so a forced stop takes effect
// at once without killing the thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class CancelToken {
  public:
    CancelToken();
    ~CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    void Cancel();
    void Reset();
    bool IsCancelled() const { return m_cancelled.load(); }

    // Readable pipe end (POSIX) or manual-reset event handle (Windows) that is signalled
    // while the token is cancelled; serial backends wait on it next to their I/O.
    intptr_t WaitHandle() const { return m_wait; }

  private:
    std::atomic<bool> m_cancelled{false};
    intptr_t m_wait = -1;
    intptr_t m_signal = -1;
};

// The token of the calling thread; null on threads that cannot be cancelled.
void SetThreadCancelToken(CancelToken* token);
CancelToken* ThreadCancelToken();
bool ThreadCancelled();

// Sleeps ms milliseconds or until the calling thread's token is cancelled; false when cancelled.
bool SleepCancellable(uint32_t ms);

}  // namespace platform
