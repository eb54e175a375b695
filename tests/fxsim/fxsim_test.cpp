// The simulated PLC seen from the client's end of a real pty.
#include "tools/fxsim/fxsim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using fxsim::Clock;
using fxsim::Options;
using fxsim::Profile;
using fxsim::Simulator;

constexpr int kReplyTimeoutMs = 2000;  // generous: the suite shares two cores
constexpr int kQuietMs = 150;          // long enough to see that no reply is coming
constexpr auto kPollStep = std::chrono::milliseconds(5);  // re-check interval while waiting
constexpr auto kPieceGap = std::chrono::milliseconds(5);  // between pieces of one frame
constexpr auto kStartupPolls = 500;                       // x kPollStep for the program to start

const std::string kEnq = "\x05";
const std::string kAck = "\x06";
const std::string kNak = "\x15";

// STX payload ETX and the two sum digits; the sum may be spoiled on purpose.
std::string Frame(const std::string& payload, int sumDelta = 0) {
    unsigned sum = 0x03;
    for (unsigned char c : payload) sum += c;
    sum = (sum + sumDelta) & 0xFF;
    static const char d[] = "0123456789ABCDEF";
    return "\x02" + payload + "\x03" + d[sum >> 4] + d[sum & 15];
}

std::vector<std::string> TxLines(const std::vector<std::string>& transcript) {
    std::vector<std::string> tx;
    for (const std::string& l : transcript)
        if (l.rfind("tx ", 0) == 0) tx.push_back(l);
    return tx;
}

// The client's end of a pty: raw, as the downloader opens its port.
class Line {
  public:
    explicit Line(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }

    void Send(const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t w = write(fd_, s.data() + off, s.size() - off);
            ASSERT_GT(w, 0);
            off += static_cast<size_t>(w);
        }
    }

    // Up to n bytes, or what came before the time-out.
    std::string Read(size_t n, int timeoutMs = kReplyTimeoutMs) {
        std::string got;
        auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < n) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (left <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) break;
            char buf[512];
            ssize_t r = read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }

    // Reads a control reply up to its closing "." line.
    std::string ReadReply() {
        std::string got;
        while (got.size() < 3 || got.compare(got.size() - 3, 3, "\n.\n") != 0) {
            std::string c = Read(1);
            if (c.empty()) break;
            got += c;
        }
        return got;
    }

  private:
    int fd_;
};

// A simulator served on a pty, with the client's end open.
struct Plc {
    explicit Plc(const Options& o) : sim(o), server(sim, ""), line(server.SlavePath()) {}
    std::string Ask(const std::string& request, size_t replyLength) {
        line.Send(request);
        return line.Read(replyLength);
    }
    // Waits until the serving thread has written n tx lines (dropped replies are logged when
    // they fall due).
    std::vector<std::string> WaitTx(size_t n) {
        auto end = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
        std::vector<std::string> tx = TxLines(sim.Transcript());
        while (tx.size() < n && Clock::now() < end) {
            std::this_thread::sleep_for(kPollStep);
            tx = TxLines(sim.Transcript());
        }
        return tx;
    }
    Simulator sim;
    fxsim::PtyServer server;
    Line line;
};

Options Fx(Profile p, bool running = false) {
    Options o;
    o.profile = p;
    o.running = running;
    return o;
}

// --- The frames of the protocol description, byte for byte --------------------------------

struct WireCase {
    std::string request;
    std::string reply;
    std::vector<std::string> transcript;
};

TEST(FxsimWire, WorkedExamplesGiveTheirRepliesAndTranscript) {
    const WireCase cases[] = {
        {kEnq, kAck, {"rx ENQ", "tx ACK"}},
        // D8001 of the default FX2N model 24100 = 0x5E24, low byte first.
        {"\x02"
         "00E0202"
         "\x03"
         "6C",
         "\x02"
         "245E"
         "\x03"
         "E3",
         {"rx 0 0E02 02 6C", "tx DATA 245E E3"}},
        {"\x02"
         "E0001C004"
         "\x03"
         "E0",
         "\x02"
         "00000000"
         "\x03"
         "83",
         {"rx E00 01C0 04 E0", "tx DATA 00000000 83"}},
        {"\x02"
         "E7E501"
         "\x03"
         "5A",
         kAck,
         {"rx E7 E501 5A", "tx ACK"}},
        {"\x02"
         "B"
         "\x03"
         "45",
         kAck,
         {"rx B 45", "tx ACK"}},
        {"\x02"
         "61"
         "\x03"
         "6A",
         kAck,
         {"rx CODE 61 6A", "tx ACK"}},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.transcript[0]);
        Plc plc(Fx(Profile::FX2N));
        ASSERT_TRUE(plc.server.Ok()) << plc.server.Error();
        EXPECT_EQ(plc.Ask(c.request, c.reply.size()), c.reply);
        EXPECT_EQ(plc.WaitTx(1).size(), 1u);
        EXPECT_EQ(plc.sim.Transcript(), c.transcript);
    }
}

TEST(FxsimWire, WriteLandsInMemoryAndReadsBack) {
    Plc plc(Fx(Profile::FX2N));
    std::string data(128, '0');
    for (int i = 0; i < 64; ++i) {
        static const char d[] = "0123456789ABCDEF";
        data[2 * i] = d[(i * 7) >> 4 & 15];
        data[2 * i + 1] = d[(i * 7) & 15];
    }
    const std::string write = Frame("E11805C40" + data);
    ASSERT_EQ(write.size(), 141u);
    EXPECT_EQ(plc.Ask(write, 1), kAck);
    EXPECT_EQ(plc.sim.Peek(0x805C + 9, 1), std::vector<uint8_t>{63});
    EXPECT_EQ(plc.Ask(Frame("E01805C40"), 132), Frame(data));  // the data reply is framed alike
}

struct BadCase {
    const char* name;
    Profile profile;
    std::string request;
    std::string reply;
    std::string txLine;
    uint32_t address;
    std::vector<uint8_t> memory;  // expected at address afterwards
};

TEST(FxsimWire, MalformedAndUnsupportedFramesGetNakAndChangeNothing) {
    const std::vector<uint8_t> untouched{0x00, 0x00};
    const BadCase cases[] = {
        {"wrong sum", Profile::FX2N, Frame("E10140002ABCD", 1), kNak, "tx NAK", 0x1400, untouched},
        {"bad digit", Profile::FX2N, Frame("E10140G02ABCD"), kNak, "tx NAK", 0x1400, untouched},
        {"short data", Profile::FX2N, Frame("E10140002AB"), kNak, "tx NAK", 0x1400, untouched},
        {"count 0", Profile::FX2N,
         Frame("E101400"
               "00"),
         kNak, "tx NAK", 0x1400, untouched},
        {"count 65", Profile::FX2N, Frame("E00140041"), kNak, "tx NAK", 0x1400, untouched},
        {"unknown command", Profile::FX2N, Frame("E9140002"), kNak, "tx NAK", 0x1400, untouched},
        {"unknown code", Profile::FX2N, Frame("65"), kNak, "tx NAK unsupported", 0x1400, untouched},
        {"classic write to FX2N", Profile::FX2N, Frame("1140002ABCD"), kNak, "tx NAK unsupported",
         0x1400, untouched},
        {"extended read to FX1S", Profile::FX1S, Frame("E0001E001"), kNak, "tx NAK unsupported",
         0x1400, untouched},
        {"extended force to FX1S", Profile::FX1S, Frame("E7250F"), kNak, "tx NAK unsupported",
         0x1400, untouched},
        {"lower-case hex accepted",
         Profile::FX2N,
         Frame("e10140002abcd"),
         kAck,
         "tx ACK",
         0x1400,
         {0xAB, 0xCD}},
        {"classic write to FX1S",
         Profile::FX1S,
         Frame("1180002ABCD"),
         kAck,
         "tx ACK",
         0x1800,
         {0xAB, 0xCD}},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Plc plc(Fx(c.profile));
        EXPECT_EQ(plc.Ask(c.request, 1), c.reply);
        EXPECT_EQ(plc.WaitTx(1), std::vector<std::string>{c.txLine});
        EXPECT_EQ(plc.sim.Peek(c.address, 2), c.memory);
    }
}

TEST(FxsimWire, JunkPiecesAndBackToBackFramesAreParsed) {
    Plc plc(Fx(Profile::FX2N));
    plc.line.Send("\x15\x15" + kEnq);
    EXPECT_EQ(plc.line.Read(1), kAck);
    const std::string read = Frame("00E0202");
    for (size_t i = 0; i < read.size(); i += 4) {
        plc.line.Send(read.substr(i, 4));
        std::this_thread::sleep_for(kPieceGap);
    }
    EXPECT_EQ(plc.line.Read(8),
              "\x02"
              "245E"
              "\x03"
              "E3");
    plc.line.Send(Frame("B") + kEnq + Frame("E8E501"));
    EXPECT_EQ(plc.line.Read(3), kAck + kAck + kAck);
    EXPECT_EQ(plc.WaitTx(5).size(), 5u);
    // The three back-to-back requests are all in before the first reply goes out.
    const std::vector<std::string> want{"rx JUNK 1515",    "rx ENQ",  "tx ACK", "rx 0 0E02 02 6C",
                                        "tx DATA 245E E3", "rx B 45", "rx ENQ", "rx E8 E501 5B",
                                        "tx ACK",          "tx ACK",  "tx ACK"};
    EXPECT_EQ(plc.sim.Transcript(), want);
}

TEST(FxsimWire, UnfinishedFrameIsDroppedAfterQuietGapOrNextStart) {
    Simulator sim(Fx(Profile::FX2N));
    const std::vector<uint8_t> part{0x02, '0', '0', 'E'};
    const Clock::time_point t0 = Clock::now();
    sim.Receive(part.data(), part.size(), t0);
    sim.Advance(t0 + std::chrono::milliseconds(10));
    EXPECT_EQ(sim.Transcript().size(), 0u);
    sim.Advance(t0 + std::chrono::seconds(2));
    // A new STX also ends an unfinished frame.
    const std::string read = Frame("00E0202");
    std::vector<uint8_t> again(part);
    again.insert(again.end(), read.begin(), read.end());
    EXPECT_EQ(sim.Exchange(again).size(), 8u);
    std::vector<std::string> t = sim.Transcript();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0], "rx BAD 02303045 incomplete");
    EXPECT_EQ(t[1], "rx BAD 02303045 incomplete");
    EXPECT_EQ(t[2], "rx 0 0E02 02 6C");
    EXPECT_EQ(sim.RequestCount(), 1u);
}

// --- RUN and STOP through the special relays ------------------------------------------------

struct RunCase {
    const char* name;
    Profile profile;
    bool startRunning;
    std::vector<std::string> forces;  // payloads, each answered with ACK
    bool running;
    std::string runRead;    // read of the run byte(s)
    std::string runDigits;  // its data digits
    uint32_t relayByte;     // byte holding M8035..M8037 (bits 3, 4, 5)
    uint8_t relayBits;
};

TEST(FxsimRun, ForceSequencesSwitchRunAndStopPerProfile) {
    const RunCase cases[] = {
        {"FX2N run",
         Profile::FX2N,
         false,
         {"E7E301", "E7E401", "E8E501"},
         true,
         "E0001C004",
         "01000000",
         0x01C4,
         0x18},
        {"FX2N stop",
         Profile::FX2N,
         true,
         {"E8E301", "E8E401", "E7E501"},
         false,
         "E0001C004",
         "00000000",
         0x01C4,
         0x20},
        {"FX1N M8037 alone stops",
         Profile::FX1N,
         true,
         {"E7E501"},
         false,
         "E0001C004",
         "00000000",
         0x01C4,
         0x38},
        {"FX2N M8035 off alone keeps running",
         Profile::FX2N,
         true,
         {"E8E301"},
         true,
         "E0001C004",
         "01000000",
         0x01C4,
         0x10},
        {"FX2N run refused while M8037 on",
         Profile::FX2N,
         false,
         {"E7E501", "E7E301", "E7E401"},
         false,
         "E0001C004",
         "00000000",
         0x01C4,
         0x38},
        {"FX1S stop", Profile::FX1S, true, {"7250F"}, false, "001E001", "00", 0x01E4, 0x20},
        {"FX1S run", Profile::FX1S, false, {"7250F", "8250F"}, true, "001E001", "01", 0x01E4, 0x00},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        Plc plc(Fx(c.profile, c.startRunning));
        EXPECT_EQ(plc.sim.IsRunning(), c.startRunning);
        for (const std::string& f : c.forces) {
            EXPECT_EQ(plc.Ask(Frame(f), 1), kAck) << f;
        }
        EXPECT_EQ(plc.sim.IsRunning(), c.running);
        const std::string data = Frame(c.runDigits);
        EXPECT_EQ(plc.Ask(Frame(c.runRead), data.size()), data);
        EXPECT_EQ(plc.sim.Peek(c.relayByte, 1), std::vector<uint8_t>{c.relayBits});
    }
}

TEST(FxsimRun, OtherForcedBitsAreKeptAsASet) {
    Plc plc(Fx(Profile::FX2N));
    EXPECT_EQ(plc.Ask(Frame("E7760E"), 1), kAck);
    EXPECT_EQ(plc.sim.ForcedOn(), std::vector<uint16_t>{0x0E76});
    EXPECT_EQ(plc.Ask(Frame("E8760E"), 1), kAck);
    EXPECT_TRUE(plc.sim.ForcedOn().empty());
}

// --- Faults on command ---------------------------------------------------------------------

struct Step {
    std::string request;
    std::string reply;  // read after sending; "" = read nothing now
};

struct FaultCase {
    const char* name;
    std::vector<std::string> faults;
    std::vector<Step> steps;
    std::vector<std::string> tx;
};

TEST(FxsimFaults, EachFaultDoesWhatItSays) {
    const std::string read = Frame("00E0202");
    const FaultCase cases[] = {
        {"nak K",
         {"nak 2"},
         {{kEnq, kAck}, {kEnq, kNak}, {kEnq, kAck}},
         {"tx ACK", "tx NAK fault", "tx ACK"}},
        {"nak-kind with count",
         {"nak-kind E7 2"},
         {{Frame("E7E501"), kNak}, {Frame("E7E501"), kNak}, {Frame("E7E501"), kAck}, {kEnq, kAck}},
         {"tx NAK fault", "tx NAK fault", "tx ACK", "tx ACK"}},
        {"nak-kind for ever",
         {"nak-kind ENQ"},
         {{kEnq, kNak}, {kEnq, kNak}, {kEnq, kNak}, {Frame("B"), kAck}},
         {"tx NAK fault", "tx NAK fault", "tx NAK fault", "tx ACK"}},
        {"drop K", {"drop 1"}, {{kEnq, ""}, {kEnq, kAck}}, {"tx (dropped ACK)", "tx ACK"}},
        {"badsum on data",
         {"badsum 1"},
         {{read,
           "\x02"
           "245E"
           "\x03"
           "E0"}},
         {"tx DATA 245E E0 badsum"}},
        {"badsum on ACK",
         {"badsum 2"},
         {{kEnq, kAck}, {kEnq, "\x07"}},
         {"tx ACK", "tx ACK badsum"}},
        // The late reply arrives after the answer to the next request.
        {"late K MS",
         {"late 1 300"},
         {{kEnq, ""}, {kEnq, kAck + kAck}},
         {"tx ACK", "tx ACK late 300"}},
        {"silent-after K",
         {"silent-after 1"},
         {{kEnq, kAck}, {kEnq, ""}, {Frame("B"), ""}},
         {"tx ACK", "tx (silent)", "tx (silent)"}},
        {"protect LO HI",
         {"protect 1400 1401"},
         {{Frame("E10140102ABCD"), kNak}, {Frame("E10140201AB"), kAck}},
         {"tx NAK protect", "tx ACK"}},
        {"fault clear",
         {"nak 1", "drop 2", "clear"},
         {{kEnq, kAck}, {kEnq, kAck}},
         {"tx ACK", "tx ACK"}},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        Plc plc(Fx(Profile::FX2N));
        for (const std::string& f : c.faults) {
            ASSERT_EQ(plc.sim.Control("fault " + f), "ok");
        }
        for (const Step& s : c.steps) {
            plc.line.Send(s.request);
            if (!s.reply.empty()) {
                EXPECT_EQ(plc.line.Read(s.reply.size()), s.reply);
            }
        }
        EXPECT_EQ(plc.WaitTx(c.tx.size()), c.tx);
        EXPECT_EQ(plc.line.Read(1, kQuietMs), "");  // nothing else on the line
    }
}

TEST(FxsimFaults, RequestNumbersCountFromWhenTheFaultWasSet) {
    Plc plc(Fx(Profile::FX2N));
    EXPECT_EQ(plc.Ask(kEnq, 1), kAck);
    EXPECT_EQ(plc.Ask(kEnq, 1), kAck);
    ASSERT_EQ(plc.sim.Control("fault nak 1"), "ok");
    EXPECT_EQ(plc.Ask(kEnq, 1), kNak);
    EXPECT_EQ(plc.Ask(kEnq, 1), kAck);
}

TEST(FxsimFaults, BadFaultSpecsAreRefused) {
    Simulator sim(Fx(Profile::FX2N));
    for (const char* bad : {"fault nak 0", "fault nak-kind E9", "fault late 1", "fault protect 2 1",
                            "fault explode 1"}) {
        EXPECT_EQ(sim.Control(bad).rfind("err ", 0), 0u) << bad;
    }
}

// --- Write protection and clears ------------------------------------------------------------

TEST(FxsimProtection, D8003TenRefusesProgramWritesAndClears) {
    Options o = Fx(Profile::FX1N);
    o.d8003 = 10;
    o.load = std::vector<uint8_t>(200, 0x11);
    Plc plc(o);
    EXPECT_EQ(plc.Ask(Frame("E11805C02ABCD"), 1), kNak);
    EXPECT_EQ(plc.Ask(Frame("E10800002ABCD"), 1), kNak);
    EXPECT_EQ(plc.Ask(Frame("61"), 1), kNak);
    EXPECT_EQ(plc.Ask(Frame("E10140002ABCD"), 1), kAck);  // device memory stays writable
    EXPECT_EQ(plc.WaitTx(4), (std::vector<std::string>{"tx NAK readonly", "tx NAK readonly",
                                                       "tx NAK readonly", "tx ACK"}));
    EXPECT_EQ(plc.sim.Peek(0x805C, 2), (std::vector<uint8_t>{0x11, 0x11}));
    // D8003 is read from memory, so it can be changed while the PLC runs.
    ASSERT_EQ(plc.sim.Control("set d8003 0"), "ok");
    EXPECT_EQ(plc.Ask(Frame("61"), 1), kAck);
    EXPECT_EQ(plc.sim.Peek(0x805C, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(plc.sim.Peek(0x805C + 15999, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(plc.Ask(Frame("60"), 1), kAck);
    EXPECT_EQ(plc.sim.Peek(0x8000, 2), (std::vector<uint8_t>{8, 0}));
}

// --- Timing ---------------------------------------------------------------------------------

TEST(FxsimPace, RepliesAreNotFasterThanTheLine) {
    Options o = Fx(Profile::FX2N);
    o.pace = true;
    Plc plc(o);
    const std::string write = Frame("E11805C40" + std::string(128, 'A'));
    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(plc.Ask(write, 1), kAck);
    EXPECT_GE(Clock::now() - t0, fxsim::kCharTime * 141);

    t0 = Clock::now();
    EXPECT_EQ(plc.Ask(Frame("E01805C40"), 132).size(), 132u);
    // 13 request characters, then 131 more after the reply's first.
    EXPECT_GE(Clock::now() - t0, fxsim::kCharTime * (13 + 131));
}

// --- Control ---------------------------------------------------------------------------------

TEST(FxsimControl, CommandsReadAndChangeState) {
    Simulator sim(Fx(Profile::FX2N));
    const std::pair<const char*, const char*> steps[] = {
        {"peek 0E02 2", "245E"},
        {"poke 1400 01 02", "ok"},
        {"peek 0x1400 2", "0102"},
        {"set model 26000", "ok"},
        {"peek 0E02 2", "9065"},
        {"set running 1", "ok"},
        {"state", "RUN requests=0 forced=01E3,01E4 model=26000 d8003=0"},
        {"fault nak 3", "ok"},
        {"fault list", "nak 3"},
        {"reset", "ok"},
        {"state", "STOP requests=0 forced= model=24100 d8003=0"},
        {"fault list", "none"},
        {"peek FFFF 66", "err bad address or length"},
        {"set colour 1", "err unknown setting colour"},
        {"frobnicate", "err unknown command: frobnicate"},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(sim.Control(s.first), s.second) << s.first;
    }
    EXPECT_EQ(sim.Exchange({0x05}), std::vector<uint8_t>{0x06});
    EXPECT_EQ(sim.Control("transcript"), "rx ENQ\ntx ACK");
    EXPECT_EQ(sim.Control("transcript clear"), "ok");
    EXPECT_TRUE(sim.Transcript().empty());
}

TEST(FxsimControl, ControlPtyRoundTripAndLink) {
    char dir[] = "/tmp/fxsim_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/ctl";
    Plc plc(Fx(Profile::FX2N));
    {
        fxsim::ControlServer ctl(plc.sim, link);
        ASSERT_TRUE(ctl.Ok()) << ctl.Error();
        Line c(link);
        ASSERT_TRUE(c.Ok());
        c.Send("peek 0E02 2\n");
        EXPECT_EQ(c.ReadReply(), "245E\n.\n");
        c.Send("set running 1\r\nbogus\n");
        EXPECT_EQ(c.ReadReply(), "ok\n.\n");
        EXPECT_EQ(c.ReadReply().rfind("err ", 0), 0u);
        EXPECT_TRUE(plc.sim.IsRunning());
        c.Send("fault nak 1\n");
        EXPECT_EQ(c.ReadReply(), "ok\n.\n");
        EXPECT_EQ(plc.Ask(kEnq, 1), kNak);
        c.Send("transcript\n");
        EXPECT_EQ(c.ReadReply(), "rx ENQ\ntx NAK fault\n.\n");
    }
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // the link goes with the server
    rmdir(dir);
}

TEST(FxsimImage, LoadAndProgramAreaPerProfile) {
    for (Profile p : {Profile::FX1S, Profile::FX1N, Profile::FX2N}) {
        Options o = Fx(p);
        o.load = {1, 2, 3};
        Simulator sim(o);
        std::vector<uint8_t> area = sim.ProgramArea();
        ASSERT_EQ(area.size(), 92 + fxsim::MaxProgramBytes(p));
        EXPECT_EQ(area[0], 1);
        EXPECT_EQ(area[2], 3);
        EXPECT_EQ(area[3], 0xFF);
    }
    EXPECT_EQ(fxsim::MaxProgramBytes(Profile::FX1S), 4000u);
    EXPECT_EQ(fxsim::MaxProgramBytes(Profile::FX2N), 16000u);
}

// --- The program -----------------------------------------------------------------------------

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FxsimProgram, ServesUntilSigtermThenDumpsAndSummarises) {
    char dirTemplate[] = "/tmp/fxsim_prog_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string link = dir + "/plc", ctl = dir + "/ctl", out = dir + "/out";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        execl(FXSIM_PROGRAM, FXSIM_PROGRAM, "--profile", "fx1s", "--link", link.c_str(),
              "--control", ctl.c_str(), "--transcript", (dir + "/t").c_str(), "--dump",
              (dir + "/d").c_str(), "--fault", "nak 1", static_cast<char*>(nullptr));
        _exit(127);
    }
    struct stat st {};
    for (int i = 0; i < kStartupPolls && lstat(ctl.c_str(), &st) != 0; ++i) {
        std::this_thread::sleep_for(kPollStep);
    }
    {
        Line plc(link), c(ctl);
        ASSERT_TRUE(plc.Ok());
        ASSERT_TRUE(c.Ok());
        plc.Send(kEnq);
        EXPECT_EQ(plc.Read(1), kNak);
        plc.Send(Frame("1805C02ABCD"));
        EXPECT_EQ(plc.Read(1), kAck);
        c.Send("state\n");
        EXPECT_EQ(c.ReadReply(), "STOP requests=2 forced= model=22100 d8003=0\n.\n");
    }
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::regex_match(
        Slurp(out), std::regex("fxsim: fx1s STOP, 2 requests, program area crc 0x[0-9A-F]{4}\n")))
        << Slurp(out);
    const std::string dump = Slurp(dir + "/d");
    ASSERT_EQ(dump.size(), 4092u);
    EXPECT_EQ(dump.substr(0x5A, 6), "\xFF\xFF\xAB\xCD\xFF\xFF");
    EXPECT_TRUE(std::regex_match(Slurp(dir + "/t"),
                                 std::regex("\\d{4}\\.\\d{3} rx ENQ\n"
                                            "\\d{4}\\.\\d{3} tx NAK fault\n"
                                            "\\d{4}\\.\\d{3} rx 1 805C 02 ABCD [0-9A-F]{2}\n"
                                            "\\d{4}\\.\\d{3} tx ACK\n")))
        << Slurp(dir + "/t");
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    EXPECT_NE(lstat(ctl.c_str(), &st), 0);
    for (const char* f : {"/out", "/t", "/d"}) unlink((dir + f).c_str());
    rmdir(dir.c_str());
}

}  // namespace
