// The termios backend against a raw pseudo-terminal peer of the test's own: line settings,
// the COM mapping and the Windows-like time-outs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "platform/platform.h"
#include "profiles/active.h"
#include "serial/serial_port.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kRawPort = 8;

// The master side of a fresh pty; the port reaches the slave as COM8.
class RawPeer : public ::testing::Test {
  protected:
    void SetUp() override {
        UseProfile(kProfileFX2N);
        theSerialPort.Close();
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(grantpt(m_master), 0);
        ASSERT_EQ(unlockpt(m_master), 0);
        m_slave = ptsname(m_master);
        SetComDevice(kRawPort, m_slave);
        SelectedPort = kRawPort;
        ASSERT_EQ(USB_OpenSP(), 1);
    }
    void TearDown() override {
        theSerialPort.Close();
        SetComDevice(kRawPort, "");
        SelectedPort = -1;
        if (m_master >= 0) close(m_master);
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads what the port sent, up to the byte count or a quiet 300 ms.
    std::string Received(size_t count) {
        std::string got;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        fcntl(m_master, F_SETFL, O_NONBLOCK);
        while (got.size() < count && std::chrono::steady_clock::now() < until) {
            char c;
            if (read(m_master, &c, 1) == 1) {
                got += c;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return got;
    }
    static uint32_t Since(std::chrono::steady_clock::time_point start) {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
    }

    int m_master = -1;
    std::string m_slave;
};

TEST_F(RawPeer, LineIsOneStopBitWithXonXoffAndRaw) {
    int fd = open(m_slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    // A pty keeps CS8 and no parity whatever is asked (Linux forces them); the rest sticks.
    EXPECT_FALSE(t.c_cflag & (PARODD | CSTOPB | CRTSCTS));
    EXPECT_TRUE((t.c_iflag & IXON) && (t.c_iflag & IXOFF));
    EXPECT_FALSE(t.c_iflag & ISTRIP);
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
}

TEST_F(RawPeer, ReadEndsOnCountIntervalOrTotal) {
    char buffer[16];
    // All bytes there: no time-out is waited for (a wait would take the whole second).
    theSerialPort.SetTimeouts(1000);
    Send("ABCDEF");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(theSerialPort.Read(buffer, 4), 4u);
    EXPECT_LT(Since(start), 500u);
    EXPECT_EQ(theSerialPort.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "EF");

    // A gap shorter than the interval keeps the read going; a longer one ends it.
    theSerialPort.SetTimeouts(150);
    std::thread peer([&] {
        Send("1");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Send("2");
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(theSerialPort.Read(buffer, 10), 2u);
    uint32_t spent = Since(start);
    peer.join();
    EXPECT_GE(spent, 200u);   // 50 ms gap, then the 150 ms interval
    EXPECT_LT(spent, 1650u);  // well before the 10 x 150 + 150 ms total

    // Nothing at all: the whole total, count x T + T.
    theSerialPort.SetTimeouts(50);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(theSerialPort.Read(buffer, 3), 0u);
    EXPECT_GE(Since(start), 200u);
}

TEST_F(RawPeer, PurgeDropsWhatWasNotReadYet) {
    theSerialPort.SetTimeouts(50);
    Send("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    theSerialPort.PurgeInput();
    Send("Z");
    char c = 0;
    EXPECT_EQ(theSerialPort.Read(&c, 1), 1u);
    EXPECT_EQ(c, 'Z');
}

TEST_F(RawPeer, LowerCaseReplyDigitsAreAccepted) {
    PlcRam[0x0E02] = 0;
    std::thread plc([&] {
        std::string request = Received(11);
        if (request == std::string("\x02"
                                   "00E0201\x03"
                                   "6B"))
            Send(
                "\x02"
                "ab\x03"
                "c6");
    });
    EXPECT_EQ(USB_ReadFrameBase(1, 0x0E02), CMD_RESULT_OK);
    plc.join();
    EXPECT_EQ(PlcRam[0x0E02], 0xAB);
}

TEST_F(RawPeer, WriteSendsTheFrameBytesExactly) {
    for (int i = 0; i < 64; ++i) PlcRam[0x805C + i] = static_cast<uint8_t>(i);
    std::string sent;
    std::thread plc([&] {
        sent = Received(141);
        Send("\x06");
    });
    EXPECT_EQ(USB_WriteFrame(0x805C, 64), CMD_RESULT_OK);
    plc.join();
    ASSERT_EQ(sent.size(), 141u);
    EXPECT_EQ(sent.substr(0, 10),
              "\x02"
              "E11805C40");
    EXPECT_EQ(sent.substr(10, 4), "0001");
    EXPECT_EQ(sent[138], '\x03');
}

TEST(ComMapping, PortsLiveInTheComFolderUnlessMapped) {
    testsupport::TempDir dir;
    setenv("NERIO_COM_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(ComDevicePath(12), (dir / "com12").string());
    SetComDevice(12, "/dev/null");
    EXPECT_EQ(ComDevicePath(12), "/dev/null");
    SetComDevice(12, "");
    EXPECT_EQ(ComDevicePath(12), (dir / "com12").string());

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::filesystem::create_symlink(ptsname(master), dir / "com12");
    theSerialPort.Close();
    SelectedPort = 12;
    EXPECT_EQ(USB_OpenSP(), 1);
    const char enq = ENQ;
    theSerialPort.Write(&enq, 1);
    theSerialPort.Flush();
    char c = 0;
    EXPECT_EQ(read(master, &c, 1), 1);
    EXPECT_EQ(c, ENQ);
    theSerialPort.Close();
    SelectedPort = -1;
    close(master);
    unsetenv("NERIO_COM_DIR");
}

}  // namespace
