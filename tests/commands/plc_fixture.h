// A simulated PLC on a pseudo-terminal behind COM1, the pool started on a stand-in window
// that records every message, and the transcript reduced to what identifies each request.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "commands/serial_command.h"
#include "link/result_codes.h"
#include "platform/notify.h"
#include "platform/platform.h"
#include "profiles/active.h"
#include "serial/serial_port.h"
#include "tests/commands/wire.h"
#include "tools/fxsim/fxsim.h"

namespace cmdtest {

// Long enough for the slowest failure path of the FX1N profile (several 500 ms time-outs).
constexpr auto kResultWait = std::chrono::seconds(30);

// The window the pool and the commands report to.
class Window {
  public:
    Window() {
        m_wnd = platform::RegisterNotifySink([this](uint32_t msg, uintptr_t w, intptr_t l) {
            Message m{msg, w, l};
            if (hook) hook(m);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(m);
            m_cv.notify_all();
            return intptr_t{1};
        });
    }
    ~Window() { Close(); }
    void Close() { platform::UnregisterNotifySink(m_wnd); }
    platform::WindowHandle Handle() const { return m_wnd; }

    // Runs on the worker, inside the synchronous send, before the message is recorded.
    std::function<void(const Message&)> hook;

    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    // The result codes of the first count WM_SERIAL_POOL messages; empty on time-out.
    std::vector<Message> WaitResults(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::vector<Message> results;
        m_cv.wait_for(lock, kResultWait, [&] {
            results.clear();
            for (const Message& m : m_messages) {
                if (m.msg == 0x1788) results.push_back(m);
            }
            return results.size() >= count;
        });
        return results.size() >= count ? results : std::vector<Message>();
    }
    int WaitResult() {
        std::vector<Message> r = WaitResults(1);
        return r.empty() ? -1 : static_cast<int>(r[0].l);
    }

  private:
    platform::WindowHandle m_wnd = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Message> m_messages;
};

inline fxsim::Profile SimProfile(const tagProfileTraits& p) {
    switch (p.id) {
        case ProfileId::FX1S:
            return fxsim::Profile::FX1S;
        case ProfileId::FX1N:
            return fxsim::Profile::FX1N;
        default:
            return fxsim::Profile::FX2N;
    }
}

class PlcFixture {
  public:
    // Starts the pool without a port (its start-up stop sends nothing), then puts the
    // simulated PLC behind COM1.
    void StartPlc(const tagProfileTraits& profile, fxsim::Options options) {
        UseProfile(profile);
        platform::SetDebugSink([](const std::wstring&) {});  // the verify's address line
        options.profile = SimProfile(profile);
        SelectedPort = -1;
        pool = CSerialCommandPool::GetInstance();
        pool->Start();
        pool->m_hNotifyWnd = window.Handle();
        sim = std::make_unique<fxsim::Simulator>(options);
        server = std::make_unique<fxsim::PtyServer>(*sim, "");
        ASSERT_TRUE(server->Ok()) << server->Error();
        SetComDevice(1, server->SlavePath());
        SelectedPort = 1;
    }
    void StopPlc() {
        if (pool == nullptr) return;
        SelectedPort = -1;
        pool->Stop(FALSE);
        SetComDevice(1, "");
        server.reset();
        sim.reset();
    }
    void Fault(const std::string& what) { ASSERT_EQ(sim->Control("fault " + what), "ok") << what; }

    std::vector<std::string> Requests() const {
        std::vector<std::string> out;
        for (const std::string& l : sim->Transcript()) {
            std::string r = Reduce(l);
            if (!r.empty()) out.push_back(r);
        }
        return out;
    }

    CSerialCommandPool* pool = nullptr;
    Window window;
    std::unique_ptr<fxsim::Simulator> sim;
    std::unique_ptr<fxsim::PtyServer> server;
};

}  // namespace cmdtest
