// PLC operations, retries, the purge of late replies, port opening and cancellation.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/cancel.h"
#include "platform/platform.h"
#include "tests/link/link_test_support.h"

namespace linktest {
namespace {

using Operations = SimTest;
using Retries = SimTest;
using Port = SimTest;

TEST_P(Operations, StopAndRunSwitchTheRelaysOfTheProfile) {
    Sim("set running 1");
    EXPECT_EQ(USB_GetRunState(), CMD_RESULT_PLC_RUNNING);
    m_peer->Control("transcript clear");
    EXPECT_EQ(USB_StopPlc(), CMD_RESULT_OK);
    EXPECT_EQ(m_peer->Control("state").substr(0, 4), "STOP");
    EXPECT_EQ(USB_RunPlc(), CMD_RESULT_OK);
    EXPECT_EQ(m_peer->Control("state").substr(0, 3), "RUN");
    std::vector<std::string> sent;
    for (const std::string& l : Rx()) sent.push_back(NoSum(l));
    if (Extended()) {
        EXPECT_EQ(sent, (std::vector<std::string>{"rx E8 E301", "rx E8 E401", "rx E7 E501",
                                                  "rx E7 E301", "rx E7 E401", "rx E8 E501"}));
    } else {
        EXPECT_EQ(sent, (std::vector<std::string>{"rx 7 250F", "rx 8 250F"}));
    }
}

TEST_P(Operations, StopSequenceEndsAtTheFirstRefusedForce) {
    Sim("set running 1");
    if (Extended()) {
        // The second force and both of its repeats are refused.
        Sim("fault nak 2");
        Sim("fault nak 3");
        Sim("fault nak 4");
    } else {
        Sim("fault nak-kind 7");
    }
    EXPECT_EQ(USB_StopPlc(), CMD_RESULT_TIMEOUT);
    std::vector<std::string> sent;
    for (const std::string& l : Rx()) sent.push_back(NoSum(l));
    if (Extended()) {
        EXPECT_EQ(sent, (std::vector<std::string>{"rx E8 E301", "rx E8 E401", "rx E8 E401",
                                                  "rx E8 E401"}));
    } else {
        EXPECT_EQ(sent, (std::vector<std::string>{"rx 7 250F", "rx 7 250F", "rx 7 250F"}));
    }
    EXPECT_EQ(m_peer->Control("state").substr(0, 3), "RUN");
}

TEST_P(Operations, ClearSendsItsCodesInOrder) {
    EXPECT_EQ(USB_ClearPlc(TRUE, TRUE, TRUE), CMD_RESULT_OK);
    const std::string protect = Extended() ? "rx E00 0E06 02" : "rx 0 0E06 02";
    const std::string run = Extended() ? "rx E00 01C0 04" : "rx 0 01E0 01";
    std::vector<std::string> sent;
    for (const std::string& l : Rx()) sent.push_back(NoSum(l));
    EXPECT_EQ(sent,
              (std::vector<std::string>{run, protect, "rx CODE 61", protect, "rx CODE 60", protect,
                                        "rx CODE 63", protect, "rx CODE 64", "rx CODE 62"}));
    EXPECT_EQ(m_peer->Peek(0x805C, 1), std::vector<uint8_t>{0xFF});
}

TEST_P(Operations, ClearIsRefusedOnAWriteProtectedPlc) {
    Sim("set d8003 10");
    EXPECT_EQ(USB_ReadD8003(), 10);
    m_peer->Control("transcript clear");
    EXPECT_EQ(USB_ClearPlc(TRUE, TRUE, TRUE), CMD_RESULT_WRITE_PROTECTED);
    EXPECT_EQ(Rx().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Operations, ::testing::Values("fx1s", "fx1n", "fx2n"),
                         ProfileName);

// Refusals cost whole read time-outs, so they run in the two 200 ms profiles.
TEST_P(Retries, RefusedFrameIsSentThreeTimesAHundredMillisecondsApart) {
    Sim(Extended() ? "fault nak-kind E11" : "fault nak-kind 1");
    EXPECT_EQ(USB_WriteFrame(0x805C, 4), CMD_RESULT_TIMEOUT);
    std::vector<std::string> rx = Rx();
    ASSERT_EQ(rx.size(), 3u);
    EXPECT_EQ(rx[1], rx[0]);
    EXPECT_EQ(rx[2], rx[0]);
    EXPECT_EQ(Tx(), std::vector<std::string>(3, "tx NAK fault"));
    std::vector<double> at = m_peer->RequestTimes();
    ASSERT_EQ(at.size(), 3u);
    EXPECT_GE(at[1] - at[0], 0.099);
    EXPECT_GE(at[2] - at[1], 0.099);
}

TEST_P(Retries, RunStateReadThatNeverSucceedsGivesTimeout) {
    Sim(Extended() ? "fault nak-kind E00" : "fault nak-kind 0");
    EXPECT_EQ(USB_GetRunState(), CMD_RESULT_TIMEOUT);
    EXPECT_EQ(Rx().size(), 3u);
}

// Without the purge, the late ACK of the enquiry would be read as the answer to the write,
// and a write the PLC refused three times would count as done.
TEST_P(Retries, LateReplyIsNeverTakenForTheNextFrame) {
    Sim("fault late 1 700");
    Sim(Extended() ? "fault nak-kind E11" : "fault nak-kind 1");
    EXPECT_EQ(USB_Enquire(), CMD_RESULT_OK);  // the second attempt gets its own ACK
    platform::SleepMs(600);                   // the late ACK has landed in the input
    EXPECT_EQ(USB_WriteFrame(0x805C, 2), CMD_RESULT_TIMEOUT);
    std::vector<std::string> tx = Tx();
    ASSERT_EQ(tx.size(), 5u);
    EXPECT_EQ(tx[1], "tx ACK late 700");
    EXPECT_EQ(std::vector<std::string>(tx.begin() + 2, tx.end()),
              std::vector<std::string>(3, "tx NAK fault"));
    EXPECT_EQ(m_peer->Peek(0x805C, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST_P(Retries, CancelledThreadStopsAttemptingAndSendsNothing) {
    platform::CancelToken token;
    token.Cancel();
    platform::SetThreadCancelToken(&token);
    EXPECT_EQ(USB_Enquire(), CMD_RESULT_TIMEOUT);
    EXPECT_EQ(USB_OpenSP(), 1);
    theSerialPort.SetTimeouts(200);
    const uint8_t enq = ENQ;
    theSerialPort.Write(&enq, 1);
    uint8_t reply = 0;
    EXPECT_EQ(theSerialPort.Read(&reply, 1), 0u);
    platform::SetThreadCancelToken(nullptr);
    // A request that got through would be answered at once; give it the time to show up.
    platform::SleepMs(100);
    EXPECT_TRUE(m_peer->Transcript().empty());
}

TEST_P(Retries, ForcedStopEndsABlockingReadAtOnce) {
    ASSERT_EQ(USB_OpenSP(), 1);
    theSerialPort.SetTimeouts(200);  // 130 bytes would wait 26 s
    platform::CancelToken token;
    std::atomic<uint32_t> got{1};
    std::atomic<uint32_t> spent{0};
    std::thread worker([&] {
        platform::SetThreadCancelToken(&token);
        uint8_t buffer[130];
        uint32_t start = platform::TickCount();
        got = theSerialPort.Read(buffer, sizeof buffer);
        spent = platform::TickCount() - start;
        platform::SetThreadCancelToken(nullptr);
    });
    platform::SleepMs(100);
    token.Cancel();
    worker.join();
    EXPECT_EQ(got.load(), 0u);
    EXPECT_LT(spent.load(), 2000u);
}

INSTANTIATE_TEST_SUITE_P(Profiles, Retries, ::testing::Values("fx1s", "fx2n"), ProfileName);

struct LogCapture {
    std::vector<std::wstring> lines;
    LogCapture() {
        platform::SetDebugSink([this](const std::wstring& t) { lines.push_back(t); });
    }
    ~LogCapture() { platform::SetDebugSink(nullptr); }
};

TEST_P(Port, OpeningFollowsTheSelectedPortRules) {
    const int simPort = SelectedPort;
    {
        LogCapture log;
        for (int refused : {-1, 255, -7}) {
            SelectedPort = refused;
            EXPECT_EQ(USB_OpenSP(), 0) << refused;
        }
        EXPECT_TRUE(log.lines.empty());
        SelectedPort = 254;
        EXPECT_EQ(USB_OpenSP(), 0);
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[0], L"[NerioLogic] Failed to open up the port: COM254 9600\n");
        const std::wstring warning = L"[NerioLogic] Warning: throwing CSerialException for error ";
        EXPECT_EQ(log.lines[1].substr(0, warning.size()), warning);
        EXPECT_NE(log.lines[1], warning + L"0\n");
        EXPECT_FALSE(theSerialPort.IsOpen());
    }
    SelectedPort = simPort;
    ASSERT_EQ(USB_OpenSP(), 1);
    // Another choice takes effect only once the port was closed.
    SelectedPort = 254;
    EXPECT_EQ(USB_OpenSP(), 1);
    EXPECT_EQ(USB_Enquire(), CMD_RESULT_OK);
    EXPECT_EQ(Rx(), std::vector<std::string>{"rx ENQ"});
    theSerialPort.Close();
    {
        LogCapture log;
        theSerialPort.Close();
        EXPECT_TRUE(log.lines.empty());
    }
    EXPECT_EQ(USB_OpenSP(), 0);
    EXPECT_EQ(USB_Enquire(), m_profile->openFailureCode);
}

TEST(PortRecord, CarriesItsClassName) {
    EXPECT_STREQ(theSerialPort.GetRuntimeClass()->m_lpszClassName, "CSerialPort");
    EXPECT_TRUE(theSerialPort.IsKindOf(RUNTIME_CLASS(CObject)));
}

INSTANTIATE_TEST_SUITE_P(Profiles, Port, ::testing::Values("fx1s", "fx2n"), ProfileName);

}  // namespace
}  // namespace linktest
