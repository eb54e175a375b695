// The command pool: one worker thread runs queued commands one at a time, reports each
// result to the main window and destroys the command.
#pragma once

#include <cstdint>
#include <deque>
#include <thread>

#include "platform/cancel.h"
#include "platform/cobject.h"
#include "platform/notify.h"
#include "platform/sync.h"
#include "platform/wintypes.h"
#include "profiles/profile.h"

class CSerialCommandBase : public CObject {
    DECLARE_DYNAMIC(CSerialCommandBase)

  public:
    CSerialCommandBase() = default;
    ~CSerialCommandBase() override = 0;
    virtual int Execute() = 0;

    int32_t m_nState = 0;
    platform::WindowHandle m_hNotifyWnd = nullptr;
};

class CSerialCommandPool {
  public:
    static CSerialCommandPool* GetInstance();
    virtual ~CSerialCommandPool();

    void Start();
    void Stop(BOOL force);

    BOOL AddCommand(CSerialCommandBase* command);
    CSerialCommandBase* GetHeadCommand();
    BOOL RemoveCommand(CSerialCommandBase* command);
    void RemoveAllCommands();

    BOOL AddClearMemoryCommand();
    BOOL AddDownloadCommand(platform::WindowHandle window, tagModelProfile profile,
                            const uint8_t* programBody, uint32_t programLength,
                            const uint8_t* paramBlock, uint32_t endOffset, BOOL verify);

    std::deque<CSerialCommandBase*> m_queue;
    platform::WindowHandle m_hNotifyWnd = nullptr;
    // m_hThread / m_dwThreadId: implementation's choice of thread object, see the .cpp
    CMutex m_mutexQueue;
    volatile BOOL m_bDownloading = FALSE;
    volatile BOOL m_bStop = FALSE;

  private:
    CSerialCommandPool() = default;
    void ThreadProc();
};
