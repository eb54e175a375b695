// POSIX backend of the worker thread: a pthread and a condition the routine signals at its end.
#include "platform/worker.h"

#include <errno.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/debuglog.h"

namespace platform {
namespace {

constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

struct Thread {
    pthread_t id{};
    std::function<void()> routine;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

void* Run(void* arg) {
    Thread* t = static_cast<Thread*>(arg);
    t->routine();
    {
        std::lock_guard<std::mutex> lock(t->mutex);
        t->done = true;
    }
    t->ended.notify_all();
    return nullptr;
}

Thread* AsThread(ThreadHandle h) {
    return reinterpret_cast<Thread*>(h);
}

}  // namespace

ThreadHandle StartThread(std::function<void()> routine, uint32_t* threadId) {
    Thread* t = new Thread;
    t->routine = std::move(routine);
    int err = pthread_create(&t->id, nullptr, Run, t);
    if (err != 0) {
        DebugLog(L"pthread_create failed: %d\n", err);
        delete t;
        errno = err;
        return kNoThread;
    }
    static std::atomic<uint32_t> s_nextId{1};
    if (threadId != nullptr) *threadId = s_nextId++;
    return reinterpret_cast<ThreadHandle>(t);
}

bool WaitThread(ThreadHandle thread, uint32_t ms) {
    if (thread == kNoThread) return true;
    Thread* t = AsThread(thread);
    std::unique_lock<std::mutex> lock(t->mutex);
    if (ms == kNoLimit) {
        t->ended.wait(lock, [t] { return t->done; });
        return true;
    }
    return t->ended.wait_for(lock, std::chrono::milliseconds(ms), [t] { return t->done; });
}

void CloseThread(ThreadHandle thread) {
    if (thread == kNoThread) return;
    Thread* t = AsThread(thread);
    pthread_join(t->id, nullptr);
    delete t;
}

}  // namespace platform
