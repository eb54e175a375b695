// Fixture of the link tests: one profile, a fresh simulated PLC on a COM port, a closed port.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "profiles/active.h"
#include "serial/serial_port.h"
#include "tests/support/sim_peer.h"

namespace linktest {

inline std::vector<std::string> Tokens(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> t;
    for (std::string s; in >> s;) t.push_back(s);
    return t;
}

// Transcript lines of one direction ("rx" or "tx").
inline std::vector<std::string> Lines(const std::vector<std::string>& transcript, const char* dir) {
    std::vector<std::string> out;
    for (const std::string& l : transcript) {
        if (l.compare(0, 3, std::string(dir) + " ") == 0) out.push_back(l);
    }
    return out;
}

// An rx line without its trailing sum digits: the simulator already refuses a wrong sum.
inline std::string NoSum(const std::string& line) {
    return line.substr(0, line.find_last_of(' '));
}

class SimTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        m_profile = FindProfile(GetParam());
        ASSERT_NE(m_profile, nullptr);
        UseProfile(*m_profile);
        theSerialPort.Close();
        m_peer = std::make_unique<testsupport::SimPeer>(GetParam());
        if (!m_peer->Available()) GTEST_SKIP() << "this run serves another profile";
        ASSERT_EQ(m_peer->Error(), "");
        SelectedPort = m_peer->Port();
    }
    void TearDown() override {
        theSerialPort.Close();
        SelectedPort = -1;
        m_peer.reset();
    }
    bool Extended() const { return m_profile->extendedCommands; }
    std::vector<std::string> Rx() { return Lines(m_peer->Transcript(), "rx"); }
    std::vector<std::string> Tx() { return Lines(m_peer->Transcript(), "tx"); }
    void Sim(const std::string& command) { ASSERT_EQ(m_peer->Control(command), "ok") << command; }

    const tagProfileTraits* m_profile = nullptr;
    std::unique_ptr<testsupport::SimPeer> m_peer;
};

inline std::string ProfileName(const ::testing::TestParamInfo<const char*>& info) {
    return info.param;
}

}  // namespace linktest
