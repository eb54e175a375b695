#include "platform/cancel.h"

namespace platform {
namespace {
thread_local CancelToken* t_token = nullptr;
}

void SetThreadCancelToken(CancelToken* token) {
    t_token = token;
}
CancelToken* ThreadCancelToken() {
    return t_token;
}
bool ThreadCancelled() {
    return t_token != nullptr && t_token->IsCancelled();
}

}  // namespace platform
