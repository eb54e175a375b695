// A simulated PLC reachable as a COM port, the same for the native and the Windows tests.
// POSIX: an in-process simulator on a pseudo-terminal mapped with SetComDevice. Windows: the
// fxsim program that scripts/wine-sim-run started on two Wine COM ports (data and control),
// driven through its control port. fxsim serves one profile per run there, so a peer for
// another profile is not Available() and the test skips.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class SimPeer {
  public:
    explicit SimPeer(const char* profileKey);  // "fx1s", "fx1n", "fx2n"; starts from reset
    ~SimPeer();
    SimPeer(const SimPeer&) = delete;
    SimPeer& operator=(const SimPeer&) = delete;

    bool Available() const;     // false: this run serves another profile (skip the test)
    std::string Error() const;  // why the peer is not usable, "" when it is
    int Port() const;           // COM number to put into SelectedPort

    // One control command ("fault nak 1", "set running 1", "peek 0E02 2", ...); the reply
    // without the closing "." line, lines joined with '\n'.
    std::string Control(const std::string& line);
    std::vector<std::string> Transcript();  // lines without the timestamp
    std::vector<double> RequestTimes();     // seconds of every rx line, in order
    std::vector<uint8_t> Peek(unsigned address, unsigned count);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

std::vector<std::string> SplitLines(const std::string& text);

}  // namespace testsupport
