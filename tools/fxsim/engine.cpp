// The PLC itself: frame parser, memory, forces, run state, faults and transcript.
#include "tools/fxsim/fxsim.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <sstream>

namespace fxsim {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kBadAck = 0x07;  // sent instead of ACK/NAK by the badsum fault

constexpr size_t kSpace = 0x10000;  // 16-bit addresses
constexpr size_t kGuard = 64;       // a 64-byte frame at 0xFFFF runs into this
constexpr size_t kMaxFrame = 300;   // longer than any request; a longer one is garbage
constexpr int kMaxCount = 64;       // bytes per read/write frame
constexpr uint32_t kParamBase = 0x8000;
constexpr size_t kParamLength = 92;
constexpr uint32_t kCodeBase = 0x805C;
constexpr uint32_t kModelWord = 0x0E02;   // D8001
constexpr uint32_t kMemoryType = 0x0E06;  // D8003
constexpr int kWriteProtected = 10;
constexpr uint32_t kDataRegs = 0x4000;     // D0.. in this image, 2 bytes each
constexpr size_t kDataRegsLength = 16000;  // D0..D7999
// A frame that stops arriving half-way is dropped after this much quiet; stray bytes are
// written to the transcript after the same gap.
constexpr auto kQuietGap = std::chrono::milliseconds(1000);

struct ProfileTable {
    uint32_t runByte;      // byte whose bit 0 is M8000; M8000+k is bit k%8 of runByte + k/8
    uint16_t specialBase;  // force address of M8000
    int defaultModel;
    size_t maxProgram;
    bool extended;  // extended command set (plus the classic read)
};

const ProfileTable& Table(Profile p) {
    static const ProfileTable fx1s{0x01E0, 0x0F00, 22100, 4000, false};
    static const ProfileTable fx1n{0x01C0, 0x01C0, 26100, 16000, true};
    static const ProfileTable fx2n{0x01C0, 0x01C0, 24100, 16000, true};
    switch (p) {
        case Profile::FX1S:
            return fx1s;
        case Profile::FX1N:
            return fx1n;
        default:
            return fx2n;
    }
}

constexpr int kM8035 = 35;
constexpr int kM8036 = 36;
constexpr int kM8037 = 37;

int HexNibble(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Parses n hex characters of s from pos; -1 when one is not a hex digit.
long HexField(const std::string& s, size_t pos, size_t n) {
    if (pos + n > s.size()) return -1;
    long v = 0;
    for (size_t i = 0; i < n; ++i) {
        int d = HexNibble(static_cast<uint8_t>(s[pos + i]));
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

std::string HexBytes(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string Hex2(unsigned v) {
    uint8_t b = static_cast<uint8_t>(v);
    return HexBytes(&b, 1);
}

std::string Hex4(unsigned v) {
    return Hex2(v >> 8) + Hex2(v);
}

uint16_t Crc16Modbus(const std::vector<uint8_t>& data) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

bool ParseDec(const std::string& s, long* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool ParseHexNum(std::string s, long* out) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    if (s.empty() || s.size() > 8) return false;
    long v = HexField(s, 0, s.size());
    if (v < 0) return false;
    *out = v;
    return true;
}

// One parsed request.
struct Request {
    std::string kind;    // ENQ, 0, 1, 7, 8, B, CODE, E00, E01, E10, E11, E7, E8, BAD
    std::string tokens;  // transcript tokens after "rx "
    uint32_t address = 0;
    int count = 0;
    std::vector<uint8_t> data;
    uint16_t forceAddress = 0;
    int code = 0;
};

enum class FaultKind { Nak, NakKind, Drop, Badsum, Late, SilentAfter, Protect };

struct Fault {
    FaultKind kind;
    uint64_t at = 0;  // absolute request number (nak, drop, badsum, late), or the last answered
    int ms = 0;
    std::string reqKind;
    long remaining = -1;  // nak-kind: -1 = every one
    uint32_t lo = 0, hi = 0;
    std::string text;
};

std::vector<std::string> Split(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

bool KnownKind(const std::string& k) {
    static const char* kinds[] = {"ENQ", "0",   "1",   "7",   "8",  "B",  "CODE",
                                  "E00", "E01", "E10", "E11", "E7", "E8", "BAD"};
    for (const char* x : kinds)
        if (k == x) return true;
    return false;
}

}  // namespace

bool ParseProfile(const std::string& s, Profile* out) {
    if (s == "fx1s") {
        *out = Profile::FX1S;
    } else if (s == "fx1n") {
        *out = Profile::FX1N;
    } else if (s == "fx2n") {
        *out = Profile::FX2N;
    } else {
        return false;
    }
    return true;
}

const char* ProfileName(Profile p) {
    switch (p) {
        case Profile::FX1S:
            return "fx1s";
        case Profile::FX1N:
            return "fx1n";
        default:
            return "fx2n";
    }
}

size_t MaxProgramBytes(Profile p) {
    return Table(p).maxProgram;
}

struct Simulator::Impl {
    mutable std::mutex mu;
    Options initial;
    Options opt;
    const ProfileTable* table;
    Clock::time_point start;

    std::vector<uint8_t> mem;
    std::set<uint16_t> forced;
    bool running = false;
    uint64_t requests = 0;
    std::vector<Fault> faults;
    std::vector<std::string> lines;  // timed
    FILE* stream = nullptr;

    // Receive side: bytes with the time their last bit is on the line.
    std::deque<std::pair<uint8_t, Clock::time_point>> inq;
    Clock::time_point rxLine{};
    bool inFrame = false;
    std::vector<uint8_t> frame;
    size_t etxPos = 0;
    Clock::time_point lastByte{};
    std::vector<uint8_t> junk;
    Clock::time_point junkTime{};

    std::deque<Outgoing> out;  // ordered by due time

    explicit Impl(const Options& o) : initial(o), start(Clock::now()) { ResetState(); }

    ~Impl() {
        if (stream) std::fclose(stream);
    }

    void ResetState() {
        opt = initial;
        table = &Table(opt.profile);
        if (opt.model < 0) opt.model = table->defaultModel;
        mem.assign(kSpace + kGuard, 0x00);
        std::fill(mem.begin() + kParamBase, mem.begin() + kSpace, 0xFF);
        size_t n = std::min(opt.load.size(), kSpace - kParamBase);
        std::copy(opt.load.begin(), opt.load.begin() + n, mem.begin() + kParamBase);
        PutWord(kModelWord, opt.model);
        PutWord(kMemoryType, opt.d8003);
        forced.clear();
        SetRunning(opt.running);
        requests = 0;
        faults.clear();
        lines.clear();
        inq.clear();
        inFrame = false;
        frame.clear();
        junk.clear();
        out.clear();
    }

    void PutWord(uint32_t a, int v) {
        mem[a] = static_cast<uint8_t>(v);
        mem[a + 1] = static_cast<uint8_t>(v >> 8);
    }

    int Word(uint32_t a) const { return mem[a] | (mem[a + 1] << 8); }

    bool WriteProtected() const { return Word(kMemoryType) == kWriteProtected; }

    uint16_t Special(int k) const { return static_cast<uint16_t>(table->specialBase + k); }

    // Keeps the readable device bits of M8000..M8255 in step with the forces and M8000 with
    // the run state.
    void SetDeviceBit(int k, bool on) {
        uint8_t& b = mem[table->runByte + k / 8];
        uint8_t mask = static_cast<uint8_t>(1u << (k % 8));
        b = on ? (b | mask) : (b & ~mask);
    }

    void MirrorRun() { SetDeviceBit(0, running); }

    void SetForce(uint16_t address, bool on) {
        if (on) {
            forced.insert(address);
        } else {
            forced.erase(address);
        }
        int k = address - table->specialBase;
        if (k > 0 && k < 256) SetDeviceBit(k, on);
    }

    bool IsForced(int k) const { return forced.count(Special(k)) != 0; }

    // Puts the run relays into the state that goes with RUN or STOP (STOP = nothing forced).
    void SetRunning(bool run) {
        SetForce(Special(kM8037), false);
        if (table->extended) {
            SetForce(Special(kM8035), run);
            SetForce(Special(kM8036), run);
        }
        running = run;
        MirrorRun();
    }

    void AfterForce(uint16_t address, bool on) {
        if (table->extended) {
            if (address != Special(kM8035) && address != Special(kM8036) &&
                address != Special(kM8037))
                return;
            if (IsForced(kM8037)) {
                running = false;
            } else if (IsForced(kM8035) && IsForced(kM8036)) {
                running = true;
            }
        } else if (address == Special(kM8037)) {
            running = !on;
        }
        MirrorRun();
    }

    std::string Stamp(Clock::time_point t) const {
        double s = std::chrono::duration<double>(t - start).count();
        if (s < 0) s = 0;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%08.3f", s);
        return buf;
    }

    void Log(Clock::time_point t, const std::string& text) {
        std::string line = Stamp(t) + " " + text;
        lines.push_back(line);
        if (stream) {
            std::fprintf(stream, "%s\n", line.c_str());
            std::fflush(stream);
        }
    }

    void FlushJunk() {
        if (junk.empty()) return;
        Log(junkTime, "rx JUNK " + HexBytes(junk.data(), junk.size()));
        junk.clear();
    }

    void DropPartial() {
        Log(lastByte, "rx BAD " + HexBytes(frame.data(), frame.size()) + " incomplete");
        inFrame = false;
        frame.clear();
    }

    void Byte(uint8_t b, Clock::time_point t) {
        if (b == kStx || b == kEnq) {
            FlushJunk();
            if (inFrame) DropPartial();
            if (b == kEnq) {
                Request r;
                r.kind = "ENQ";
                r.tokens = "ENQ";
                Handle(r, t);
                return;
            }
            inFrame = true;
            frame.assign(1, b);
            etxPos = 0;
            lastByte = t;
            return;
        }
        if (!inFrame) {
            junk.push_back(b);
            junkTime = t;
            return;
        }
        frame.push_back(b);
        lastByte = t;
        if (etxPos == 0 && b == kEtx) etxPos = frame.size() - 1;
        if (etxPos != 0 && frame.size() == etxPos + 3) {
            Request r = Parse();
            inFrame = false;
            frame.clear();
            Handle(r, t);
        } else if (frame.size() > kMaxFrame) {
            Request r;
            r.kind = "BAD";
            r.tokens = "BAD " + HexBytes(frame.data(), frame.size());
            inFrame = false;
            frame.clear();
            Handle(r, t);
        }
    }

    Request Parse() const {
        Request r;
        r.kind = "BAD";
        r.tokens = "BAD " + HexBytes(frame.data(), frame.size());
        unsigned sum = 0;
        for (size_t i = 1; i <= etxPos; ++i) sum += frame[i];
        long given = HexField(std::string(frame.begin() + etxPos + 1, frame.end()), 0, 2);
        if (given < 0 || static_cast<unsigned>(given) != (sum & 0xFF)) return r;
        const std::string p(frame.begin() + 1, frame.begin() + etxPos);
        const std::string ss(frame.begin() + etxPos + 1, frame.end());
        if (p.size() == 2 && HexField(p, 0, 2) >= 0) {
            r.kind = "CODE";
            r.code = static_cast<int>(HexField(p, 0, 2));
            r.tokens = "CODE " + p + " " + ss;
            return r;
        }
        if (p == "B") {
            r.kind = "B";
            r.tokens = "B " + ss;
            return r;
        }
        if (p.empty()) return r;
        // Read/write: command, four address digits, two count digits, data digits.
        auto readWrite = [&](const std::string& kind, size_t cmdLen, bool write) {
            if (p.size() < cmdLen + 6) return false;
            long a = HexField(p, cmdLen, 4);
            long c = HexField(p, cmdLen + 4, 2);
            if (a < 0 || c < 0) return false;
            std::string data = p.substr(cmdLen + 6);
            if (!write && !data.empty()) return false;
            if (write && data.size() != 2 * static_cast<size_t>(c)) return false;
            for (size_t i = 0; i < data.size(); i += 2) {
                long v = HexField(data, i, 2);
                if (v < 0) return false;
                r.data.push_back(static_cast<uint8_t>(v));
            }
            r.kind = kind;
            r.address = static_cast<uint32_t>(a);
            r.count = static_cast<int>(c);
            r.tokens = kind + " " + p.substr(cmdLen, 4) + " " + p.substr(cmdLen + 4, 2) + " " +
                       (write ? data + " " : std::string()) + ss;
            return true;
        };
        // Force: command, four address digits sent low byte first.
        auto force = [&](const std::string& kind, size_t cmdLen) {
            if (p.size() != cmdLen + 4) return false;
            long lo = HexField(p, cmdLen, 2);
            long hi = HexField(p, cmdLen + 2, 2);
            if (lo < 0 || hi < 0) return false;
            r.kind = kind;
            r.forceAddress = static_cast<uint16_t>(hi << 8 | lo);
            r.tokens = kind + " " + p.substr(cmdLen, 4) + " " + ss;
            return true;
        };
        const char c0 = p[0];
        if (c0 == '0' && readWrite("0", 1, false)) return r;
        if (c0 == '1' && readWrite("1", 1, true)) return r;
        if (c0 == '7' && force("7", 1)) return r;
        if (c0 == '8' && force("8", 1)) return r;
        if ((c0 == 'E' || c0 == 'e') && p.size() >= 2) {
            const char c1 = p[1];
            const char sel = p.size() >= 3 ? p[2] : '\0';
            if ((c1 == '0' || c1 == '1') && (sel == '0' || sel == '1')) {
                std::string kind = std::string("E") + c1 + sel;
                if (readWrite(kind, 3, c1 == '1')) return r;
            }
            if (c1 == '7' && force("E7", 2)) return r;
            if (c1 == '8' && force("E8", 2)) return r;
        }
        r.data.clear();
        return r;
    }

    bool Supported(const std::string& kind) const {
        if (kind == "ENQ" || kind == "0" || kind == "B" || kind == "CODE") return true;
        bool classic = kind == "1" || kind == "7" || kind == "8";
        return table->extended ? !classic : classic;
    }

    bool Touches(const Request& r, uint32_t lo, uint32_t hi) const {
        uint32_t last = r.address + static_cast<uint32_t>(r.count) - 1;
        return r.address <= hi && last >= lo;
    }

    // The PLC's own answer to a request; applies its effect.
    void Process(const Request& r, std::vector<uint8_t>* bytes, std::string* line) {
        auto ack = [&] {
            *bytes = {kAck};
            *line = "ACK";
        };
        auto nak = [&](const char* why) {
            *bytes = {kNak};
            *line = std::string("NAK") + (why[0] ? " " : "") + why;
        };
        const std::string& k = r.kind;
        if (k == "BAD") return nak("");
        if (!Supported(k)) return nak("unsupported");
        if (k == "ENQ" || k == "B") return ack();
        if (k == "CODE") {
            if (r.code < 0x60 || r.code > 0x64) return nak("unsupported");
            if (WriteProtected()) return nak("readonly");
            Clear(r.code);
            return ack();
        }
        if (k == "7" || k == "8" || k == "E7" || k == "E8") {
            bool on = k == "7" || k == "E7";
            SetForce(r.forceAddress, on);
            AfterForce(r.forceAddress, on);
            return ack();
        }
        if (r.count < 1 || r.count > kMaxCount) return nak("");
        if (k == "0" || k == "E00" || k == "E01") {
            std::string digits = HexBytes(&mem[r.address], static_cast<size_t>(r.count));
            unsigned sum = kEtx;
            for (char c : digits) sum += static_cast<uint8_t>(c);
            std::string ss = Hex2(sum);
            bytes->assign(1, kStx);
            bytes->insert(bytes->end(), digits.begin(), digits.end());
            bytes->push_back(kEtx);
            bytes->insert(bytes->end(), ss.begin(), ss.end());
            *line = "DATA " + digits + " " + ss;
            return;
        }
        // Writes: 1, E10, E11.
        for (const Fault& f : faults)
            if (f.kind == FaultKind::Protect && Touches(r, f.lo, f.hi)) return nak("protect");
        if (WriteProtected() && Touches(r, kParamBase, kSpace + kGuard)) return nak("readonly");
        std::copy(r.data.begin(), r.data.end(), mem.begin() + r.address);
        MirrorRun();
        ack();
    }

    void Clear(int code) {
        switch (code) {
            case 0x60: {  // parameter block back to its default: size class, then zeros
                std::fill(mem.begin() + kParamBase, mem.begin() + kCodeBase, 0x00);
                mem[kParamBase] = static_cast<uint8_t>(table->maxProgram / 2000);
                break;
            }
            case 0x61:  // program area erased
                std::fill(mem.begin() + kCodeBase, mem.begin() + kCodeBase + table->maxProgram,
                          0xFF);
                break;
            case 0x62:  // bit devices below the special relays
                std::fill(mem.begin(), mem.begin() + table->runByte, 0x00);
                break;
            default:  // 0x63, 0x64: data registers D0..D7999
                std::fill(mem.begin() + kDataRegs, mem.begin() + kDataRegs + kDataRegsLength, 0x00);
                break;
        }
    }

    void Queue(Outgoing o) {
        auto it = std::upper_bound(
            out.begin(), out.end(), o.due,
            [](const Clock::time_point& t, const Outgoing& x) { return t < x.due; });
        out.insert(it, std::move(o));
    }

    // Removes a one-shot fault set for request n; true when there was one.
    bool TakeFault(FaultKind kind, uint64_t n, int* ms = nullptr) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->kind == kind && it->at == n) {
                if (ms) *ms = it->ms;
                faults.erase(it);
                return true;
            }
        }
        return false;
    }

    void Handle(const Request& r, Clock::time_point t) {
        uint64_t n = ++requests;
        Log(t, "rx " + r.tokens);
        Outgoing o;
        o.due = t + std::chrono::milliseconds(opt.turnaroundMs);

        for (const Fault& f : faults) {
            if (f.kind == FaultKind::SilentAfter && n > f.at) {
                o.line = "(silent)";
                Queue(std::move(o));
                return;
            }
        }
        bool injected = TakeFault(FaultKind::Nak, n);
        for (auto it = faults.begin(); it != faults.end();) {
            if (it->kind == FaultKind::NakKind && it->reqKind == r.kind && it->remaining != 0) {
                injected = true;
                if (it->remaining > 0 && --it->remaining == 0) {
                    it = faults.erase(it);
                    continue;
                }
            }
            ++it;
        }
        if (injected) {
            o.bytes = {kNak};
            o.line = "NAK fault";
        } else {
            Process(r, &o.bytes, &o.line);
        }
        // Order matters for the transcript: the sum is corrupted first, then delayed, then
        // possibly swallowed.
        if (TakeFault(FaultKind::Badsum, n)) {
            if (o.bytes.size() > 1) {
                o.bytes.back() = o.bytes.back() == '0' ? '1' : '0';
                o.line.back() = static_cast<char>(o.bytes.back());
            } else {
                o.bytes = {kBadAck};
            }
            o.line += " badsum";
        }
        int lateMs = 0;
        if (TakeFault(FaultKind::Late, n, &lateMs)) {
            o.due = t + std::chrono::milliseconds(lateMs);
            o.line += " late " + std::to_string(lateMs);
        }
        if (TakeFault(FaultKind::Drop, n)) {
            o.bytes.clear();
            o.line = "(dropped " + o.line + ")";
        }
        Queue(std::move(o));
    }

    void Advance(Clock::time_point now) {
        while (!inq.empty() && inq.front().second <= now) {
            auto [b, t] = inq.front();
            inq.pop_front();
            Byte(b, t);
        }
        if (inFrame && lastByte + kQuietGap <= now) DropPartial();
        if (!junk.empty() && junkTime + kQuietGap <= now) FlushJunk();
    }

    Clock::time_point NextWake() const {
        Clock::time_point w = Clock::time_point::max();
        if (!inq.empty()) w = std::min(w, inq.front().second);
        if (!out.empty()) w = std::min(w, out.front().due);
        if (inFrame) w = std::min(w, lastByte + kQuietGap);
        if (!junk.empty()) w = std::min(w, junkTime + kQuietGap);
        return w;
    }

    std::string AddFault(const std::vector<std::string>& w) {
        // w[0] == "fault"
        if (w.size() < 2) return "err usage: fault KIND ARGS";
        const std::string& k = w[1];
        Fault f;
        f.text = w[1];
        for (size_t i = 2; i < w.size(); ++i) f.text += " " + w[i];
        long a = 0, b = 0;
        if (k == "clear" && w.size() == 2) {
            faults.clear();
            return "ok";
        }
        if (k == "list" && w.size() == 2) {
            std::string s;
            for (const Fault& x : faults) s += (s.empty() ? "" : "\n") + x.text;
            return s.empty() ? "none" : s;
        }
        if ((k == "nak" || k == "drop" || k == "badsum") && w.size() == 3) {
            if (!ParseDec(w[2], &a) || a < 1) return "err K must be 1 or more";
            f.kind =
                k == "nak" ? FaultKind::Nak : (k == "drop" ? FaultKind::Drop : FaultKind::Badsum);
            f.at = requests + static_cast<uint64_t>(a);
        } else if (k == "late" && w.size() == 4) {
            if (!ParseDec(w[2], &a) || a < 1) return "err K must be 1 or more";
            if (!ParseDec(w[3], &b) || b < 0) return "err bad MS";
            f.kind = FaultKind::Late;
            f.at = requests + static_cast<uint64_t>(a);
            f.ms = static_cast<int>(b);
        } else if (k == "silent-after" && w.size() == 3) {
            if (!ParseDec(w[2], &a) || a < 0) return "err bad K";
            f.kind = FaultKind::SilentAfter;
            f.at = requests + static_cast<uint64_t>(a);
        } else if (k == "nak-kind" && (w.size() == 3 || w.size() == 4)) {
            if (!KnownKind(w[2])) return "err unknown kind " + w[2];
            f.kind = FaultKind::NakKind;
            f.reqKind = w[2];
            if (w.size() == 4) {
                if (!ParseDec(w[3], &a) || a < 1) return "err bad COUNT";
                f.remaining = a;
            }
        } else if (k == "protect" && w.size() == 4) {
            if (!ParseHexNum(w[2], &a) || !ParseHexNum(w[3], &b) || a > b) return "err bad range";
            f.kind = FaultKind::Protect;
            f.lo = static_cast<uint32_t>(a);
            f.hi = static_cast<uint32_t>(b);
        } else {
            return "err unknown fault: " + f.text;
        }
        faults.push_back(f);
        return "ok";
    }

    std::string State() const {
        std::string s = running ? "RUN" : "STOP";
        s += " requests=" + std::to_string(requests) + " forced=";
        bool first = true;
        for (uint16_t a : forced) {
            if (!first) s += ',';
            s += Hex4(a);
            first = false;
        }
        s += " model=" + std::to_string(Word(kModelWord));
        s += " d8003=" + std::to_string(Word(kMemoryType));
        return s;
    }

    std::string Command(const std::string& line) {
        std::vector<std::string> w = Split(line);
        if (w.empty()) return "err empty command";
        const std::string& c = w[0];
        long a = 0, b = 0;
        if (c == "fault") return AddFault(w);
        if (c == "reset" && w.size() == 1) {
            ResetState();
            return "ok";
        }
        if (c == "state" && w.size() == 1) return State();
        if (c == "transcript") {
            if (w.size() == 2 && w[1] == "clear") {
                lines.clear();
                return "ok";
            }
            bool timed = w.size() == 2 && w[1] == "timed";
            if (w.size() != 1 && !timed) return "err usage: transcript [timed|clear]";
            std::string s;
            for (size_t i = 0; i < lines.size(); ++i) {
                if (i) s += "\n";
                s += timed ? lines[i] : lines[i].substr(lines[i].find(' ') + 1);
            }
            return s;
        }
        if (c == "peek" && w.size() == 3) {
            if (!ParseHexNum(w[1], &a) || !ParseDec(w[2], &b) || b < 1 ||
                static_cast<size_t>(a + b) > mem.size())
                return "err bad address or length";
            return HexBytes(&mem[a], static_cast<size_t>(b));
        }
        if (c == "poke" && w.size() >= 3) {
            std::string hex;
            for (size_t i = 2; i < w.size(); ++i) hex += w[i];
            if (!ParseHexNum(w[1], &a) || hex.size() % 2 != 0) return "err usage: poke ADDR HEX";
            std::vector<uint8_t> bytes;
            for (size_t i = 0; i < hex.size(); i += 2) {
                long v = HexField(hex, i, 2);
                if (v < 0) return "err bad hex bytes";
                bytes.push_back(static_cast<uint8_t>(v));
            }
            if (static_cast<size_t>(a) + bytes.size() > mem.size()) return "err out of range";
            std::copy(bytes.begin(), bytes.end(), mem.begin() + a);
            MirrorRun();
            return "ok";
        }
        if (c == "set" && w.size() == 3) {
            if (!ParseDec(w[2], &a)) return "err bad number";
            if (w[1] == "model") {
                PutWord(kModelWord, static_cast<int>(a));
            } else if (w[1] == "d8003") {
                PutWord(kMemoryType, static_cast<int>(a));
            } else if (w[1] == "running" && (a == 0 || a == 1)) {
                SetRunning(a == 1);
            } else if (w[1] == "turnaround" && a >= 0) {
                opt.turnaroundMs = static_cast<int>(a);
            } else {
                return "err unknown setting " + w[1];
            }
            return "ok";
        }
        if (c == "help") {
            return "fault nak K | fault nak-kind KIND [COUNT] | fault drop K | fault badsum K | "
                   "fault late K MS | fault silent-after K | fault protect LO HI | "
                   "fault list | fault clear | reset | set model N | set d8003 N | "
                   "set running 0|1 | set turnaround MS | peek ADDR LEN | poke ADDR HEX | "
                   "state | transcript [timed|clear] | help";
        }
        return "err unknown command: " + line;
    }
};

Simulator::Simulator(const Options& o) : impl_(new Impl(o)) {}
Simulator::~Simulator() = default;

std::string Simulator::Control(const std::string& line) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->Command(line);
}

std::vector<std::string> Simulator::Transcript() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    std::vector<std::string> v;
    for (const std::string& l : impl_->lines) v.push_back(l.substr(l.find(' ') + 1));
    return v;
}

std::vector<std::string> Simulator::TimedTranscript() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->lines;
}

std::vector<uint8_t> Simulator::Peek(uint32_t address, size_t n) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const auto& m = impl_->mem;
    if (address >= m.size()) return {};
    n = std::min(n, m.size() - address);
    return std::vector<uint8_t>(m.begin() + address, m.begin() + address + n);
}

void Simulator::Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    auto& m = impl_->mem;
    for (size_t i = 0; i < bytes.size() && address + i < m.size(); ++i) m[address + i] = bytes[i];
    impl_->MirrorRun();
}

bool Simulator::IsRunning() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->running;
}

std::vector<uint16_t> Simulator::ForcedOn() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return std::vector<uint16_t>(impl_->forced.begin(), impl_->forced.end());
}

void Simulator::ClearTranscript() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->lines.clear();
}

Profile Simulator::GetProfile() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->opt.profile;
}

uint64_t Simulator::RequestCount() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->requests;
}

std::vector<uint8_t> Simulator::ProgramArea() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    auto b = impl_->mem.begin() + kParamBase;
    return std::vector<uint8_t>(b, b + kParamLength + impl_->table->maxProgram);
}

std::string Simulator::Summary() const {
    std::vector<uint8_t> area = ProgramArea();
    std::lock_guard<std::mutex> lock(impl_->mu);
    char buf[128];
    std::snprintf(buf, sizeof buf, "fxsim: %s %s, %llu requests, program area crc 0x%04X",
                  ProfileName(impl_->opt.profile), impl_->running ? "RUN" : "STOP",
                  static_cast<unsigned long long>(impl_->requests), Crc16Modbus(area));
    return buf;
}

bool Simulator::StreamTranscript(const std::string& path, int* err) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        if (err) *err = errno;
        return false;
    }
    if (impl_->stream) std::fclose(impl_->stream);
    impl_->stream = f;
    for (const std::string& l : impl_->lines) std::fprintf(f, "%s\n", l.c_str());
    std::fflush(f);
    return true;
}

std::vector<uint8_t> Simulator::Exchange(const std::vector<uint8_t>& in) {
    Receive(in.data(), in.size(), Clock::now());
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& s = *impl_;
    while (!s.inq.empty()) {
        auto [b, t] = s.inq.front();
        s.inq.pop_front();
        s.Byte(b, t);
    }
    std::vector<uint8_t> reply;
    Clock::time_point now = Clock::now();
    for (Outgoing& o : s.out) {
        s.Log(now, "tx " + o.line);
        reply.insert(reply.end(), o.bytes.begin(), o.bytes.end());
    }
    s.out.clear();
    return reply;
}

void Simulator::Receive(const uint8_t* data, size_t n, Clock::time_point at) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& s = *impl_;
    for (size_t i = 0; i < n; ++i) {
        Clock::time_point t = at;
        if (s.opt.pace) {
            // The last bit of this character is on the line one character time after the
            // previous one, or after it started arriving.
            s.rxLine = std::max(at, s.rxLine) + kCharTime;
            t = s.rxLine;
        }
        s.inq.emplace_back(data[i], t);
    }
}

void Simulator::Advance(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->Advance(now);
}

bool Simulator::TakeDue(Clock::time_point now, Outgoing* out) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    auto& q = impl_->out;
    if (q.empty() || q.front().due > now) return false;
    *out = std::move(q.front());
    q.pop_front();
    return true;
}

Clock::time_point Simulator::NextWake() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->NextWake();
}

void Simulator::NoteSent(const Outgoing& out, Clock::time_point at) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->Log(at, "tx " + out.line);
}

bool Simulator::Paced() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->opt.pace;
}

}  // namespace fxsim
