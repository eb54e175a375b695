// Windows peer: fxsim runs outside Wine (started by scripts/wine-sim-run); its data pty is
// COM<NERIO_SIM_PORT> and its control pty COM<NERIO_SIM_CONTROL_PORT> in the Wine prefix.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/support/sim_peer.h"

namespace testsupport {

namespace {

constexpr DWORD kControlPollMs = 50;
constexpr DWORD kControlReplyMs = 5000;
constexpr const char* kReplyEnd = "\n.\n";

int EnvInt(const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr ? -1 : std::atoi(v);
}

}  // namespace

struct SimPeer::Impl {
    HANDLE control = INVALID_HANDLE_VALUE;
    int port = -1;
    bool available = false;
    std::string error;
};

SimPeer::SimPeer(const char* profileKey) : m_impl(new Impl) {
    const char* served = std::getenv("NERIO_SIM_PROFILE");
    m_impl->port = EnvInt("NERIO_SIM_PORT");
    int controlPort = EnvInt("NERIO_SIM_CONTROL_PORT");
    if (served == nullptr || m_impl->port < 0 || controlPort < 0) {
        m_impl->error = "no simulator: run the test through scripts/wine-sim-run";
        return;
    }
    if (std::string(served) != profileKey) return;
    std::wstring path = L"\\\\.\\COM" + std::to_wstring(controlPort);
    m_impl->control = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (m_impl->control == INVALID_HANDLE_VALUE) {
        m_impl->error = "cannot open the control port COM" + std::to_string(controlPort) +
                        ", error " + std::to_string(GetLastError());
        return;
    }
    // A read returns as soon as anything arrived, or after the poll interval.
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, kControlPollMs, 0, kControlReplyMs};
    SetCommTimeouts(m_impl->control, &t);
    PurgeComm(m_impl->control, PURGE_RXCLEAR);
    m_impl->available = true;
    std::string reply = Control("reset");
    if (reply != "ok") {
        m_impl->available = false;
        m_impl->error = "fxsim did not take reset: " + reply;
    }
}

SimPeer::~SimPeer() {
    if (m_impl->control != INVALID_HANDLE_VALUE) CloseHandle(m_impl->control);
}

bool SimPeer::Available() const {
    return m_impl->available || !m_impl->error.empty();
}

std::string SimPeer::Error() const {
    return m_impl->error;
}

int SimPeer::Port() const {
    return m_impl->port;
}

std::string SimPeer::Control(const std::string& line) {
    if (!m_impl->available) return "err no simulator";
    std::string request = line + "\n";
    DWORD written = 0;
    if (!WriteFile(m_impl->control, request.data(), static_cast<DWORD>(request.size()), &written,
                   nullptr)) {
        return "err control write failed " + std::to_string(GetLastError());
    }
    std::string reply = "\n";  // so that an empty reply also ends in "\n.\n"
    DWORD start = GetTickCount();
    while (reply.size() < 3 || reply.compare(reply.size() - 3, 3, kReplyEnd) != 0) {
        if (GetTickCount() - start > kControlReplyMs) return "err no control reply";
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(m_impl->control, buffer, sizeof buffer, &got, nullptr)) {
            return "err control read failed " + std::to_string(GetLastError());
        }
        for (DWORD i = 0; i < got; ++i) {
            if (buffer[i] != '\r') reply += buffer[i];
        }
    }
    return reply.substr(1, reply.size() - 4);
}

}  // namespace testsupport
