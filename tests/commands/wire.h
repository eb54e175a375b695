// What the PLC receives during the commands, per profile, as the simulator's transcript
// shows it: each request reduced to its kind, address and count.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands/messages.h"
#include "profiles/profile.h"

namespace cmdtest {

struct Message {
    uint32_t msg;
    uintptr_t w;
    intptr_t l;
    bool operator==(const Message& o) const { return msg == o.msg && w == o.w && l == o.l; }
};

inline std::ostream& operator<<(std::ostream& os, const Message& m) {
    return os << std::hex << "{0x" << m.msg << ", " << std::dec << m.w << ", " << m.l << "}";
}

// "rx E11 805C 40 <data> 3A" -> "E11 805C 40": kind, address and count, no data, no sum.
inline std::string Reduce(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> t;
    for (std::string w; in >> w;) t.push_back(w);
    if (t.size() < 2 || t[0] != "rx") return "";
    const std::string& k = t[1];
    size_t keep = 1;
    if (k == "0" || k == "1" || k == "E00" || k == "E01" || k == "E10" || k == "E11") keep = 3;
    if (k == "7" || k == "8" || k == "E7" || k == "E8" || k == "CODE") keep = 2;
    std::string out;
    for (size_t i = 1; i <= keep && i < t.size(); ++i) out += (i > 1 ? " " : "") + t[i];
    return out;
}

using Strings = std::vector<std::string>;

// What each profile sends for the steps of a download.
struct Wire {
    const tagProfileTraits* profile;
    std::string runRead;
    Strings stop, run;
    Strings paramWrite;
    std::string programWrite, programRead;
    Strings paramRead;
    std::string d8003Read;
    bool programBit;
};

inline const Wire kWires[] = {
    {&kProfileFX1S,
     "0 01E0 01",
     {"7 250F"},
     {"8 250F"},
     {"1 8000 40", "1 8040 1C"},
     "1",
     "0",
     {},
     "0 0E06 02",
     false},
    {&kProfileFX1N,
     "E00 01C0 04",
     {"E8 E301", "E8 E401", "E7 E501"},
     {"E7 E301", "E7 E401", "E8 E501"},
     {"E10 8000 40", "E10 8040 1C"},
     "E11",
     "E01",
     {"E00 8000 40", "E00 8040 1C"},
     "E00 0E06 02",
     false},
    {&kProfileFX2N,
     "E00 01C0 04",
     {"E8 E301", "E8 E401", "E7 E501"},
     {"E7 E301", "E7 E401", "E8 E501"},
     {"E11 8000 40", "E11 8040 1C"},
     "E11",
     "E01",
     {"E01 8000 40", "E01 8040 1C"},
     "E00 0E06 02",
     true},
};

inline const std::string kModelRead = "0 0E02 02";

inline std::string Hex(unsigned v, int digits) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%0*X", digits, v);
    return buf;
}

inline Strings Frames(const std::string& command, uint32_t n) {
    Strings out;
    for (uint32_t done = 0; done < n; done += 64) {
        out.push_back(command + " " + Hex(0x805C + done, 4) + " " +
                      Hex(std::min(64u, n - done), 2));
    }
    return out;
}

inline Strings operator+(Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Strings ExpectedDownload(const Wire& w, bool running, bool verify, uint32_t n) {
    Strings s = {w.runRead, "ENQ", w.runRead};
    if (running) s = s + w.stop + Strings{w.runRead};
    s = s + Strings{kModelRead} + w.paramWrite;
    if (w.programBit) s.push_back("E7 760E");
    s = s + Frames(w.programWrite, n);
    if (w.programBit) s.push_back("E8 760E");
    s.push_back("B");
    if (verify) s = s + Strings{"ENQ", kModelRead} + w.paramRead + Frames(w.programRead, n);
    if (running) s = s + w.run;
    return s;
}

inline std::vector<Message> operator+(std::vector<Message> a, const std::vector<Message>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::vector<Message> ExpectedProgress(uint32_t message, uint32_t n) {
    std::vector<Message> out = {{WM_PROGRESS_RANGE, 0, static_cast<intptr_t>(n)}};
    for (uint32_t done = 0; done < n;) {
        done = std::min(done + 64, n);
        out.push_back({message, done, static_cast<intptr_t>(n)});
    }
    return out;
}

}  // namespace cmdtest
