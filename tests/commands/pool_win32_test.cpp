// The pool with real windows: a stop on the window's own thread while the worker waits inside
// the synchronous result message to that window must not hang, and a destroyed window gets
// nothing while its command is still destroyed. No PLC is needed: no port is selected.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "commands/messages.h"
#include "commands/serial_command.h"
#include "link/result_codes.h"
#include "profiles/active.h"
#include "serial/serial_port.h"

class CSignalCommand : public CSerialCommandBase {
    DECLARE_DYNAMIC(CSignalCommand)

  public:
    HANDLE executed = nullptr;
    int* destroyed = nullptr;
    ~CSignalCommand() override {
        if (destroyed) ++*destroyed;
    }
    int Execute() override {
        SetEvent(executed);
        return CMD_RESULT_TIMEOUT;
    }
};
IMPLEMENT_DYNAMIC(CSignalCommand, CSerialCommandBase)

namespace {

// Generous bound for the worker to reach its result message; the wait ends much earlier.
constexpr DWORD kExecuteWaitMs = 10000;
constexpr DWORD kIntoSendMs = 100;

struct Received {
    WPARAM command;
    LPARAM result;
    bool alive;
};
std::vector<Received> g_received;

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_SERIAL_POOL) {
        auto* c = reinterpret_cast<CSerialCommandBase*>(w);
        g_received.push_back({w, l, c->IsKindOf(RUNTIME_CLASS(CSignalCommand))});
        return 1;
    }
    return DefWindowProcW(wnd, msg, w, l);
}

class PoolWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_received.clear();
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NerioPoolTestWindow";
        RegisterClassW(&wc);
        wnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
        ASSERT_NE(wnd, nullptr) << GetLastError();
        executed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        UseProfile(kProfileFX2N);
        SelectedPort = -1;
        pool = CSerialCommandPool::GetInstance();
        pool->Start();
        pool->m_hNotifyWnd = wnd;
    }
    void TearDown() override {
        pool->Stop(TRUE);
        if (IsWindow(wnd)) DestroyWindow(wnd);
        CloseHandle(executed);
    }
    CSignalCommand* Queue() {
        auto* c = new CSignalCommand;
        c->m_nState = 1;
        c->m_hNotifyWnd = pool->m_hNotifyWnd;
        c->executed = executed;
        c->destroyed = &destroyed;
        EXPECT_TRUE(pool->AddCommand(c));
        return c;
    }
    // The worker has run the command and now waits in SendMessageW for this thread.
    void WaitUntilWorkerIsInsideTheResultMessage() {
        ASSERT_EQ(WaitForSingleObject(executed, kExecuteWaitMs), WAIT_OBJECT_0);
        Sleep(kIntoSendMs);
        ASSERT_TRUE(g_received.empty());
    }

    HWND wnd = nullptr;
    HANDLE executed = nullptr;
    int destroyed = 0;
    CSerialCommandPool* pool = nullptr;
};

class StopWhileReporting : public PoolWindowTest, public ::testing::WithParamInterface<BOOL> {};

TEST_P(StopWhileReporting, StopLetsTheResultThroughAndEnds) {
    CSignalCommand* c = Queue();
    WaitUntilWorkerIsInsideTheResultMessage();

    pool->Stop(GetParam());

    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].command, reinterpret_cast<WPARAM>(c));
    EXPECT_EQ(g_received[0].result, CMD_RESULT_TIMEOUT);
    EXPECT_TRUE(g_received[0].alive);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(pool->m_hThread.load(), platform::kNoThread);
}

INSTANTIATE_TEST_SUITE_P(Force, StopWhileReporting, ::testing::Values(FALSE, TRUE),
                         [](const auto& info) { return info.param ? "forced" : "graceful"; });

TEST_F(PoolWindowTest, DestroyedWindowGetsNoResultCommandStillDestroyed) {
    DestroyWindow(wnd);
    Queue();
    ASSERT_EQ(WaitForSingleObject(executed, kExecuteWaitMs), WAIT_OBJECT_0);
    for (int i = 0; i < 1000 && destroyed == 0; ++i) Sleep(1);
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(g_received.empty());
}

}  // namespace
