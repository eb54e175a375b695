// The parts of the peer that only read the control protocol's text.
#include <cstdlib>
#include <sstream>

#include "tests/support/sim_peer.h"

namespace testsupport {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SimPeer::Transcript() {
    return SplitLines(Control("transcript"));
}

std::vector<double> SimPeer::RequestTimes() {
    std::vector<double> times;
    for (const std::string& line : SplitLines(Control("transcript timed"))) {
        size_t space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, 3, "rx ") == 0) {
            times.push_back(std::strtod(line.c_str(), nullptr));
        }
    }
    return times;
}

std::vector<uint8_t> SimPeer::Peek(unsigned address, unsigned count) {
    char cmd[64];
    std::snprintf(cmd, sizeof cmd, "peek %04X %u", address, count);
    std::string hex = Control(cmd);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

}  // namespace testsupport
