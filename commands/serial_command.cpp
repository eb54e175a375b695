#include "commands/serial_command.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "commands/clear_memory.h"
#include "commands/download.h"
#include "commands/messages.h"
#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "platform/debuglog.h"
#include "platform/platform.h"
#include "profiles/active.h"
#include "serial/serial_port.h"

IMPLEMENT_DYNAMIC(CSerialCommandBase, CObject)

CSerialCommandBase::~CSerialCommandBase() = default;

namespace {

// The worker's pauses: after each command, and per pass while the queue is empty.
constexpr uint32_t kAfterCommandMs = 5;
constexpr uint32_t kIdlePassMs = 30;
// A graceful stop looks for the worker's end this often, and gives up after the limit.
constexpr uint32_t kStopPollMs = 300;
constexpr uint32_t kStopLimitMs = 4000;
constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

CSerialCommandPool* g_pool = nullptr;

}  // namespace

CSerialCommandPool* CSerialCommandPool::GetInstance() {
    if (g_pool == nullptr) g_pool = new (std::nothrow) CSerialCommandPool;
    return g_pool;
}

CSerialCommandPool::~CSerialCommandPool() {
    Stop(FALSE);
}

void CSerialCommandPool::Start() {
    CSerialCommandPool* pool = GetInstance();
    if (pool == nullptr) return;
    pool->Stop(FALSE);
    pool->m_bStop = FALSE;
    pool->m_cancel.Reset();
    uint32_t id = 0;
    platform::ThreadHandle h = platform::StartThread([pool] { pool->ThreadProc(); }, &id);
    if (h == platform::kNoThread) {
        DebugLog(L"CSerialCommandPool::Start: no worker thread (error %d)\n",
                 platform::LastErrorCode());
        return;
    }
    pool->m_dwThreadId = id;
    // The worker clears m_hThread when it leaves its loop; the handle stays ours until Stop.
    pool->m_workerHandle = h;
    pool->m_hThread = h;
}

void CSerialCommandPool::Stop(BOOL force) {
    if (g_pool == nullptr) return;
    CSerialCommandPool* pool = g_pool;
    platform::ThreadHandle h = pool->m_workerHandle;
    if (h != platform::kNoThread) {
        pool->m_bStop = TRUE;
        if (force) {
            pool->m_cancel.Cancel();
        } else {
            uint32_t start = platform::TickCount();
            while (pool->m_hThread != platform::kNoThread) {
                if (platform::TickCount() - start >= kStopLimitMs) break;
                platform::WaitThread(h, kStopPollMs);
            }
            // A worker that does not leave in time is cancelled, not killed.
            if (pool->m_hThread != platform::kNoThread) pool->m_cancel.Cancel();
        }
        // Every wait of a cancelled worker returns at once, so this join is short.
        platform::WaitThread(h, kNoLimit);
        platform::CloseThread(h);
        pool->m_workerHandle = platform::kNoThread;
        pool->m_hThread = platform::kNoThread;
        if (pool->m_cancel.IsCancelled()) {
            // A reply to the cut transaction may still be on its way in.
            if (theSerialPort.IsOpen()) theSerialPort.PurgeInput();
        }
    }
    pool->RemoveAllCommands();
    pool->ResetMonitorHeader();
    if (theSerialPort.IsOpen()) theSerialPort.Close();
}

void CSerialCommandPool::ResetMonitorHeader() {
    const tagProfileTraits& p = ActiveProfile();
    std::memset(&PlcRam[p.monitorHeaderAddress], 0, 2);
    std::memset(&PlcRam[p.monitorBitCountAddress], 0, 2);
    // Sends nothing when no port was ever selected; a failure does not stop the stop.
    (void)USB_WriteFrame(p.monitorHeaderAddress, 2);
}

BOOL CSerialCommandPool::AddCommand(CSerialCommandBase* command) {
    CSerialCommandPool* pool = GetInstance();
    if (pool == nullptr) return FALSE;
    CSingleLock lock(&pool->m_mutexQueue);
    if (!lock.Lock(INFINITE_WAIT)) return FALSE;
    pool->m_queue.push_front(command);
    return TRUE;
}

CSerialCommandBase* CSerialCommandPool::GetHeadCommand() {
    CSerialCommandPool* pool = GetInstance();
    if (pool == nullptr) return nullptr;
    CSingleLock lock(&pool->m_mutexQueue);
    if (!lock.Lock(INFINITE_WAIT)) return nullptr;
    return pool->m_queue.empty() ? nullptr : pool->m_queue.front();
}

BOOL CSerialCommandPool::RemoveCommand(CSerialCommandBase* command) {
    CSingleLock lock(&m_mutexQueue);
    if (!lock.Lock(INFINITE_WAIT)) return FALSE;
    auto it = std::find(m_queue.begin(), m_queue.end(), command);
    if (it == m_queue.end()) return FALSE;
    delete *it;
    m_queue.erase(it);
    return TRUE;
}

void CSerialCommandPool::RemoveAllCommands() {
    CSingleLock lock(&m_mutexQueue);
    if (!lock.Lock(INFINITE_WAIT)) return;
    for (CSerialCommandBase* command : m_queue) delete command;
    m_queue.clear();
    m_queue.shrink_to_fit();
}

BOOL CSerialCommandPool::AddClearMemoryCommand() {
    CSerialCommandPool* pool = GetInstance();
    if (pool == nullptr) return FALSE;
    CSerialCommandClearMemory* command = new CSerialCommandClearMemory;
    command->m_nState = 1;
    command->m_bStepA = TRUE;
    command->m_bStepB = TRUE;
    command->m_bStepC = TRUE;
    command->m_hNotifyWnd = pool->m_hNotifyWnd;
    BOOL queued = pool->AddCommand(command);
    if (!queued) delete command;
    return queued;
}

BOOL CSerialCommandPool::AddDownloadCommand(platform::WindowHandle window, tagModelProfile profile,
                                            const uint8_t* programBody, uint32_t programLength,
                                            const uint8_t* paramBlock, uint32_t endOffset,
                                            BOOL verify) {
    CSerialCommandPool* pool = GetInstance();
    if (pool == nullptr) return FALSE;
    CSerialCommandDownload* command = new CSerialCommandDownload;
    command->m_nState = 1;
    command->SetDownloadData(window, profile, programBody, programLength, paramBlock, endOffset,
                             verify);
    command->m_hNotifyWnd = pool->m_hNotifyWnd;
    BOOL queued = pool->AddCommand(command);
    if (!queued) delete command;
    return queued;
}

void CSerialCommandPool::ThreadProc() {
    platform::SetThreadCancelToken(&m_cancel);
    while (!m_bStop) {
        CSerialCommandBase* command = GetHeadCommand();
        if (command != nullptr) {
            int result = command->Execute();
            // A cancelled command is not reported; Stop destroys it with the rest of the queue.
            if (platform::ThreadCancelled()) break;
            platform::WindowHandle wnd = m_hNotifyWnd;
            if (platform::IsWindowHandle(wnd)) {
                platform::SendNotify(wnd, WM_SERIAL_POOL, reinterpret_cast<uintptr_t>(command),
                                     static_cast<intptr_t>(result));
            }
            if (platform::ThreadCancelled()) break;
            RemoveCommand(command);
            platform::SleepCancellable(kAfterCommandMs);
        } else {
            if (theSerialPort.IsOpen()) theSerialPort.Close();
            platform::SleepCancellable(kIdlePassMs);
        }
    }
    platform::SetThreadCancelToken(nullptr);
    m_hThread = platform::kNoThread;
}
