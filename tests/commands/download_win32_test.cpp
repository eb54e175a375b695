// The download command on the Windows backends (overlapped serial, real window, SendMessageW)
// against fxsim on Wine COM ports: the whole download of a running PLC, and the close button
// during the program frames. fxsim serves one profile per run; the others skip.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "commands/download.h"
#include "commands/messages.h"
#include "link/result_codes.h"
#include "profiles/active.h"
#include "serial/serial_port.h"
#include "tests/commands/wire.h"
#include "tests/support/sim_peer.h"

namespace {

using namespace cmdtest;

constexpr DWORD kResultWaitMs = 60000;

std::vector<Message> g_messages;
std::function<void(const Message&)> g_hook;

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg >= WM_SERIAL_POOL && msg <= WM_VERIFY_PROGRESS) {
        Message m{msg, static_cast<uintptr_t>(w), static_cast<intptr_t>(l)};
        if (g_hook) g_hook(m);
        g_messages.push_back(m);
        return 1;
    }
    return DefWindowProcW(wnd, msg, w, l);
}

// Handles this thread's messages (the worker's sends among them) until done() or the limit.
bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(ms - spent, 10), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

class WindowsDownload : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        const Wire& w = W();
        peer = std::make_unique<testsupport::SimPeer>(w.profile->key);
        if (!peer->Available()) GTEST_SKIP() << "this run serves another profile";
        ASSERT_EQ(peer->Error(), "");
        g_messages.clear();
        g_hook = nullptr;
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NerioDownloadTestWindow";
        RegisterClassW(&wc);
        wnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
        ASSERT_NE(wnd, nullptr) << GetLastError();
        UseProfile(*w.profile);
        SelectedPort = -1;
        pool = CSerialCommandPool::GetInstance();
        pool->Start();
        pool->m_hNotifyWnd = wnd;
        SelectedPort = peer->Port();
        ASSERT_EQ(peer->Control("set running 1"), "ok");
        ASSERT_EQ(peer->Control("transcript clear"), "ok");
    }
    void TearDown() override {
        if (pool != nullptr) {
            SelectedPort = -1;
            pool->Stop(TRUE);
        }
        g_hook = nullptr;
        if (wnd != nullptr) DestroyWindow(wnd);
    }
    const Wire& W() const { return kWires[GetParam()]; }
    Strings Requests() {
        Strings out;
        for (const std::string& l : peer->Transcript()) {
            std::string r = Reduce(l);
            if (!r.empty()) out.push_back(r);
        }
        return out;
    }
    std::vector<Message> Results() const {
        std::vector<Message> out;
        for (const Message& m : g_messages) {
            if (m.msg == WM_SERIAL_POOL) out.push_back(m);
        }
        return out;
    }
    void Queue(uint32_t n) {
        program.assign(n, 0);
        for (uint32_t i = 0; i < n; ++i) program[i] = static_cast<uint8_t>(i * 5 + 3);
        params.assign(92, 0x22);
        params[0] = 1;
        ASSERT_TRUE(pool->AddDownloadCommand(wnd, ActiveProfile().model, program.data(), n,
                                             params.data(), n, TRUE));
    }

    std::unique_ptr<testsupport::SimPeer> peer;
    HWND wnd = nullptr;
    CSerialCommandPool* pool = nullptr;
    std::vector<uint8_t> program, params;
};

TEST_P(WindowsDownload, RunningPlcWithVerify) {
    const uint32_t n = 130;
    Queue(n);
    ASSERT_TRUE(PumpUntil([this] { return !Results().empty(); }, kResultWaitMs));

    EXPECT_EQ(Results()[0].l, CMD_RESULT_OK);
    EXPECT_EQ(Requests(), ExpectedDownload(W(), true, true, n));
    std::vector<Message> expected = {{WM_DOWNLOAD_PARAMS, 0, 0}};
    expected = expected + ExpectedProgress(WM_DOWNLOAD_PROGRESS, n) +
               ExpectedProgress(WM_VERIFY_PROGRESS, n);
    std::vector<Message> progress = g_messages;
    progress.pop_back();  // the result
    EXPECT_EQ(progress, expected);
    EXPECT_EQ(peer->Peek(0x8000, 92), params);
    EXPECT_EQ(peer->Peek(0x805C, n), program);
    EXPECT_EQ(peer->Control("state").substr(0, 3), "RUN");
}

TEST_P(WindowsDownload, ForcedStopDuringProgramFrames) {
    bool atFrame = false;
    g_hook = [&](const Message& m) {
        if (m.msg == WM_DOWNLOAD_PROGRESS && m.w == 256) {
            peer->Control("fault late 1 5000");  // the next frame's ACK comes far too late
            atFrame = true;
        }
    };
    Queue(1024);
    ASSERT_TRUE(PumpUntil([&] { return atFrame; }, kResultWaitMs));
    const std::string fifth = W().programWrite + " 815C 40";
    ASSERT_TRUE(PumpUntil([&] { return Requests().back() == fifth; }, kResultWaitMs));

    DWORD t0 = GetTickCount();
    pool->Stop(TRUE);
    DWORD spent = GetTickCount() - t0;

    // A stop that waited for the read would take the read time-out at least.
    EXPECT_LT(spent, 2 * W().profile->portTimeoutMs);
    Strings rx = Requests();
    EXPECT_EQ(rx.back(), W().profile->id == ProfileId::FX1S ? "1 1800 02" : "E10 1400 02");
    EXPECT_EQ(std::count(rx.begin(), rx.end(), fifth), 1);
    EXPECT_EQ(std::count(rx.begin(), rx.end(), "B"), 0);
    EXPECT_EQ(peer->Control("state").substr(0, 4), "STOP");
    EXPECT_TRUE(Results().empty());
    EXPECT_FALSE(theSerialPort.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Profiles, WindowsDownload, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return kWires[info.param].profile->key; });

}  // namespace
