// The command worker's thread: started at normal priority, waited for with a time-out, and
// released. One backend per OS.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using ThreadHandle = intptr_t;
constexpr ThreadHandle kNoThread = -1;

// Starts routine on a new thread; kNoThread (and the OS error in LastErrorCode) on failure.
ThreadHandle StartThread(std::function<void()> routine, uint32_t* threadId);

// Waits up to ms milliseconds (0xFFFFFFFF: no limit) for the thread to end; true when it did.
// On Windows the waiting thread keeps handling messages sent to its own windows, so a worker
// blocked in a synchronous notification of the waiter's window can finish.
bool WaitThread(ThreadHandle thread, uint32_t ms);

// Releases the handle of a thread that has ended (WaitThread returned true).
void CloseThread(ThreadHandle thread);

}  // namespace platform
