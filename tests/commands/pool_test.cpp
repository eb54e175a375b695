// The pool's worker: order of queued commands, reporting, the port while idle, forced stop.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "commands/download.h"
#include "commands/messages.h"
#include "link/plc_link.h"
#include "tests/commands/plc_fixture.h"

// A command whose work and end the test decides; its class record must be reachable.
class CProbeCommand : public CSerialCommandBase {
    DECLARE_DYNAMIC(CProbeCommand)

  public:
    std::function<int()> body;
    std::function<void()> destroyed;
    ~CProbeCommand() override {
        if (destroyed) destroyed();
    }
    int Execute() override { return body ? body() : CMD_RESULT_OK; }
};
IMPLEMENT_DYNAMIC(CProbeCommand, CSerialCommandBase)

namespace {

using cmdtest::Message;

class PoolTest : public ::testing::Test, public cmdtest::PlcFixture {
  protected:
    void TearDown() override { StopPlc(); }

    CProbeCommand* Probe(std::function<int()> body) {
        auto* c = new CProbeCommand;
        c->m_nState = 1;
        c->m_hNotifyWnd = pool->m_hNotifyWnd;
        c->body = std::move(body);
        return c;
    }
};

TEST_F(PoolTest, CommandQueuedLastRunsFirst) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> blocking;
    std::vector<std::string> order;
    std::mutex m;
    auto record = [&](const char* name, int code) {
        return [&, name, code] {
            std::lock_guard<std::mutex> lock(m);
            order.push_back(name);
            return code;
        };
    };
    CProbeCommand* blocker = Probe([&] {
        blocking.set_value();
        released.wait();
        return 2;
    });
    ASSERT_TRUE(pool->AddCommand(blocker));
    blocking.get_future().wait();  // the worker holds the blocker: both others wait
    CProbeCommand* first = Probe(record("first", 8));
    CProbeCommand* second = Probe(record("second", 9));
    ASSERT_TRUE(pool->AddCommand(first));
    ASSERT_TRUE(pool->AddCommand(second));
    release.set_value();

    std::vector<Message> results = window.WaitResults(3);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], (Message{WM_SERIAL_POOL, reinterpret_cast<uintptr_t>(blocker), 2}));
    EXPECT_EQ(results[1], (Message{WM_SERIAL_POOL, reinterpret_cast<uintptr_t>(second), 9}));
    EXPECT_EQ(results[2], (Message{WM_SERIAL_POOL, reinterpret_cast<uintptr_t>(first), 8}));
    EXPECT_EQ(order, (std::vector<std::string>{"second", "first"}));
}

TEST_F(PoolTest, ResultHandlerSeesTheCommandAliveThenItIsDestroyedAndThePortClosed) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    std::promise<void> gone;
    bool portOpenDuringCommand = false;
    CProbeCommand* c = Probe([&] {
        USB_Enquire();
        portOpenDuringCommand = theSerialPort.IsOpen();
        return CMD_RESULT_OK;
    });
    c->destroyed = [&] { gone.set_value(); };
    bool aliveInHandler = false;
    window.hook = [&](const Message& m) {
        if (m.msg != WM_SERIAL_POOL) return;
        auto* cmd = reinterpret_cast<CSerialCommandBase*>(m.w);
        aliveInHandler = cmd->IsKindOf(RUNTIME_CLASS(CProbeCommand)) && cmd->m_nState == 1;
    };
    ASSERT_TRUE(pool->AddCommand(c));
    ASSERT_EQ(window.WaitResult(), CMD_RESULT_OK);
    EXPECT_EQ(gone.get_future().wait_for(cmdtest::kResultWait), std::future_status::ready);
    EXPECT_TRUE(aliveInHandler);
    EXPECT_TRUE(portOpenDuringCommand);
    // The next idle pass closes the port: waited for, not timed.
    bool closed = false;
    for (int i = 0; i < 1000 && !closed; ++i) {
        closed = !theSerialPort.IsOpen();
        if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(pool->GetHeadCommand(), nullptr);
}

TEST_F(PoolTest, ResultForAWindowThatIsGoneIsNotSentButTheCommandIsDestroyed) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    std::promise<void> gone;
    CProbeCommand* c = Probe([&] {
        window.Close();
        return CMD_RESULT_OK;
    });
    c->destroyed = [&] { gone.set_value(); };
    ASSERT_TRUE(pool->AddCommand(c));
    EXPECT_EQ(gone.get_future().wait_for(cmdtest::kResultWait), std::future_status::ready);
    EXPECT_TRUE(window.Messages().empty());
}

TEST_F(PoolTest, RemoveCommandOfAnAddressNotQueuedDestroysNothing) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    CProbeCommand outside;
    bool destroyed = false;
    outside.destroyed = [&] { destroyed = true; };
    EXPECT_FALSE(pool->RemoveCommand(&outside));
    EXPECT_FALSE(destroyed);
    outside.destroyed = nullptr;
}

// The close button during the program frames: the worker is cut inside a read that would
// otherwise wait for a whole read time-out, nothing more is reported or sent by the command,
// the waiting command goes unrun, and the monitor-header write is the PLC's last request.
TEST_F(PoolTest, ForcedStopDuringProgramFrames) {
    fxsim::Options o;
    o.running = true;
    StartPlc(kProfileFX1N, o);  // 500 ms time-outs: a stop that waits for one shows
    std::promise<void> atFrame;
    std::atomic<bool> waitingRan{false};
    std::promise<void> waitingGone;
    CProbeCommand* waiting = Probe([&] {
        waitingRan = true;
        return CMD_RESULT_OK;
    });
    waiting->destroyed = [&] { waitingGone.set_value(); };
    window.hook = [&](const Message& m) {
        if (m.msg == WM_DOWNLOAD_PROGRESS && m.w == 256) {
            sim->Control("fault late 1 5000");  // the next frame's ACK comes far too late
            pool->AddCommand(waiting);
            atFrame.set_value();
        }
    };
    std::vector<uint8_t> program(1024, 0x42), params(92, 0x01);
    ASSERT_TRUE(pool->AddDownloadCommand(window.Handle(), ActiveProfile().model, program.data(),
                                         1024, params.data(), 1024, TRUE));
    ASSERT_EQ(atFrame.get_future().wait_for(cmdtest::kResultWait), std::future_status::ready);
    // Wait until the fifth frame is on the PLC's side, then close.
    for (int i = 0; i < 2000 && Requests().back() != "E11 815C 40"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(Requests().back(), "E11 815C 40");

    auto t0 = std::chrono::steady_clock::now();
    pool->Stop(TRUE);
    auto spent = std::chrono::steady_clock::now() - t0;

    EXPECT_LT(spent, std::chrono::milliseconds(400)) << "less than the read time-out";
    std::vector<std::string> rx = Requests();
    EXPECT_EQ(rx.back(), "E10 1400 02");
    EXPECT_EQ(sim->Transcript().back(), "tx ACK");
    EXPECT_EQ(std::count(rx.begin(), rx.end(), "E11 815C 40"), 1);
    EXPECT_EQ(std::count(rx.begin(), rx.end(), "B"), 0);
    EXPECT_FALSE(sim->IsRunning());
    EXPECT_EQ(sim->Peek(0x805C, 256), std::vector<uint8_t>(256, 0x42));
    EXPECT_EQ(sim->Peek(0x1400, 2), (std::vector<uint8_t>{0, 0}));
    for (const Message& m : window.Messages()) EXPECT_NE(m.msg, WM_SERIAL_POOL);
    EXPECT_EQ(waitingGone.get_future().wait_for(std::chrono::seconds(0)),
              std::future_status::ready);
    EXPECT_FALSE(waitingRan);
    EXPECT_EQ(pool->GetHeadCommand(), nullptr);
    EXPECT_FALSE(theSerialPort.IsOpen());
}

}  // namespace
