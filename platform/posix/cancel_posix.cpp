// POSIX backend of the cancel token: a pipe whose read end is readable while cancelled,
// so poll() on a serial descriptor can wait for the stop at the same time.
#include "platform/cancel.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

CancelToken::CancelToken() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wait = fds[0];
        m_signal = fds[1];
    }
}

CancelToken::~CancelToken() {
    if (m_wait >= 0) close(static_cast<int>(m_wait));
    if (m_signal >= 0) close(static_cast<int>(m_signal));
}

void CancelToken::Cancel() {
    if (m_cancelled.exchange(true)) return;
    if (m_signal >= 0) {
        char one = 1;
        while (write(static_cast<int>(m_signal), &one, 1) < 0 && errno == EINTR) {
        }
    }
}

void CancelToken::Reset() {
    m_cancelled.store(false);
    if (m_wait < 0) return;
    char drain[16];
    while (read(static_cast<int>(m_wait), drain, sizeof drain) > 0) {
    }
}

bool SleepCancellable(uint32_t ms) {
    CancelToken* token = ThreadCancelToken();
    if (token == nullptr || token->WaitHandle() < 0) {
        SleepMs(ms);
        return true;
    }
    if (token->IsCancelled()) return false;
    uint32_t start = TickCount();
    for (;;) {
        uint32_t spent = TickCount() - start;
        if (spent >= ms) return !token->IsCancelled();
        struct pollfd p = {static_cast<int>(token->WaitHandle()), POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(ms - spent));
        if (r > 0 || token->IsCancelled()) return false;
        if (r < 0 && errno != EINTR) return !token->IsCancelled();
    }
}

}  // namespace platform
