// POSIX peer: the simulator runs in the test process on its own pseudo-terminal.
#include <string>

#include "serial/serial_port.h"
#include "tests/support/sim_peer.h"
#include "tools/fxsim/fxsim.h"

namespace testsupport {

namespace {
constexpr int kSimComPort = 5;
}

struct SimPeer::Impl {
    std::unique_ptr<fxsim::Simulator> sim;
    std::unique_ptr<fxsim::PtyServer> server;
    std::string error;
};

SimPeer::SimPeer(const char* profileKey) : m_impl(new Impl) {
    fxsim::Options o;
    if (!fxsim::ParseProfile(profileKey, &o.profile)) {
        m_impl->error = std::string("unknown profile ") + profileKey;
        return;
    }
    m_impl->sim = std::make_unique<fxsim::Simulator>(o);
    m_impl->server = std::make_unique<fxsim::PtyServer>(*m_impl->sim, "");
    if (!m_impl->server->Ok()) {
        m_impl->error = m_impl->server->Error();
        return;
    }
    SetComDevice(kSimComPort, m_impl->server->SlavePath());
}

SimPeer::~SimPeer() {
    SetComDevice(kSimComPort, "");
    m_impl->server.reset();
}

bool SimPeer::Available() const {
    return true;
}

std::string SimPeer::Error() const {
    return m_impl->error;
}

int SimPeer::Port() const {
    return kSimComPort;
}

std::string SimPeer::Control(const std::string& line) {
    if (!m_impl->sim) return "err no simulator";
    return m_impl->sim->Control(line);
}

}  // namespace testsupport
