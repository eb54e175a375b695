// The command pool: one worker thread runs queued commands one at a time, reports each
// result to the main window and destroys the command.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "platform/cancel.h"
#include "platform/cobject.h"
#include "platform/notify.h"
#include "platform/sync.h"
#include "platform/wintypes.h"
#include "platform/worker.h"
#include "profiles/profile.h"

// A unit of PLC work run by the pool's worker; Execute returns a result code (1 = success).
class CSerialCommandBase : public CObject {
    DECLARE_DYNAMIC(CSerialCommandBase)

  public:
    CSerialCommandBase() = default;
    ~CSerialCommandBase() override = 0;
    virtual int Execute() = 0;

    int32_t m_nState = 0;  // 1 once queued; the result handler accepts 0 and 1 only
    platform::WindowHandle m_hNotifyWnd = nullptr;
};

class CSerialCommandPool {
  public:
    // The process-wide pool, created on the first call; null when that creation failed.
    static CSerialCommandPool* GetInstance();
    virtual ~CSerialCommandPool();

    // Stops a previous worker (gracefully), then starts a new one.
    void Start();
    // Ends the worker (force: cancelled at once; else asked, waited for, then cancelled),
    // destroys every queued command unreported, resets the PLC's monitor header, closes the port.
    void Stop(BOOL force);

    BOOL AddCommand(CSerialCommandBase* command);  // at the head of the queue
    CSerialCommandBase* GetHeadCommand();
    BOOL RemoveCommand(CSerialCommandBase* command);  // destroys it when found
    void RemoveAllCommands();

    BOOL AddClearMemoryCommand();
    BOOL AddDownloadCommand(platform::WindowHandle window, tagModelProfile profile,
                            const uint8_t* programBody, uint32_t programLength,
                            const uint8_t* paramBlock, uint32_t endOffset, BOOL verify);

    std::deque<CSerialCommandBase*> m_queue;
    platform::WindowHandle m_hNotifyWnd = nullptr;
    // kNoThread while no worker runs; the worker sets it back itself when it leaves its loop.
    std::atomic<platform::ThreadHandle> m_hThread{platform::kNoThread};
    uint32_t m_dwThreadId = 0;
    CMutex m_mutexQueue;
    std::atomic<BOOL> m_bDownloading{FALSE};  // while a download command executes
    std::atomic<BOOL> m_bStop{FALSE};

  private:
    CSerialCommandPool() = default;
    void ThreadProc();
    void ResetMonitorHeader();

    // Set as the worker's own token: cancelling it ends every wait of the worker at once.
    platform::CancelToken m_cancel;
    // The handle Stop waits on and releases; m_hThread tells whether the worker still loops.
    platform::ThreadHandle m_workerHandle = platform::kNoThread;
};
