// The download and clear commands against the simulated PLC, one table per profile: the
// requests the PLC received, the messages the window got, and the PLC's state afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <tuple>

#include "commands/clear_memory.h"
#include "commands/download.h"
#include "commands/messages.h"
#include "platform/platform.h"
#include "tests/commands/plc_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using cmdtest::Message;
using namespace cmdtest;

std::vector<Message> WithoutResults(const std::vector<Message>& all) {
    std::vector<Message> out;
    for (const Message& m : all) {
        if (m.msg != WM_SERIAL_POOL) out.push_back(m);
    }
    return out;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

// A parameter block unlike the PLC's own (all 0xFF), so keeping the PLC's block would show.
std::vector<uint8_t> Params() {
    std::vector<uint8_t> p = Pattern(92, 0x11);
    p[0] = 1;
    return p;
}

class DownloadTest : public ::testing::Test, public cmdtest::PlcFixture {
  protected:
    void Start(const Wire& w, bool running, int model = -1) {
        fxsim::Options o;
        o.running = running;
        o.model = model;
        StartPlc(*w.profile, o);
    }
    void TearDown() override { StopPlc(); }

    void Queue(uint32_t n, bool verify) {
        program = Pattern(n, 0x30);
        params = Params();
        ASSERT_TRUE(pool->AddDownloadCommand(window.Handle(), ActiveProfile().model, program.data(),
                                             n, params.data(), n, verify ? TRUE : FALSE));
    }

    std::vector<uint8_t> program;
    std::vector<uint8_t> params;
};

// --- the whole download, per profile, running or stopped, with and without verify ---------

class FullDownload : public DownloadTest,
                     public ::testing::WithParamInterface<std::tuple<int, bool, bool>> {};

TEST_P(FullDownload, SequenceMessagesAndPlcState) {
    const Wire& w = kWires[std::get<0>(GetParam())];
    const bool running = std::get<1>(GetParam());
    const bool verify = std::get<2>(GetParam());
    const uint32_t n = 130;  // two full frames and a short one
    Start(w, running);
    Queue(n, verify);

    ASSERT_EQ(window.WaitResult(), CMD_RESULT_OK);
    EXPECT_EQ(Requests(), ExpectedDownload(w, running, verify, n));

    std::vector<Message> expected = {{WM_DOWNLOAD_PARAMS, 0, 0}};
    expected = expected + ExpectedProgress(WM_DOWNLOAD_PROGRESS, n);
    if (verify) expected = expected + ExpectedProgress(WM_VERIFY_PROGRESS, n);
    EXPECT_EQ(WithoutResults(window.Messages()), expected);

    EXPECT_EQ(sim->Peek(0x8000, 92), params) << "the package's parameter block is sent";
    EXPECT_EQ(sim->Peek(0x805C, n), program);
    EXPECT_EQ(sim->IsRunning(), running);
    std::vector<uint16_t> forced = sim->ForcedOn();
    EXPECT_EQ(std::find(forced.begin(), forced.end(), 0x0E76), forced.end());
    EXPECT_FALSE(pool->m_bDownloading);
}

INSTANTIATE_TEST_SUITE_P(Profiles, FullDownload,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Bool(),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(kWires[std::get<0>(info.param)].profile->key) +
                                    (std::get<1>(info.param) ? "_running" : "_stopped") +
                                    (std::get<2>(info.param) ? "_verify" : "");
                         });

// --- refusals and failures, per profile ----------------------------------------------------

class DownloadFailure : public DownloadTest, public ::testing::WithParamInterface<int> {
  protected:
    const Wire& W() const { return kWires[GetParam()]; }
};

TEST_P(DownloadFailure, StopRefusedGives7AndLeavesPlcRunning) {
    Start(W(), true);
    std::string firstStopKind = W().stop[0].substr(0, W().stop[0].find(' '));
    Fault("nak-kind " + firstStopKind);
    Queue(130, true);

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_PLC_RUNNING);
    EXPECT_EQ(Requests(), (Strings{W().runRead, "ENQ", W().runRead, W().stop[0], W().stop[0],
                                   W().stop[0], "B"}));
    EXPECT_TRUE(sim->IsRunning());
    EXPECT_TRUE(WithoutResults(window.Messages()).empty());
}

TEST_P(DownloadFailure, RunStateUnreadableAfterStopGives7) {
    Start(W(), true);
    const size_t afterStop = 4 + W().stop.size();  // run state, ENQ, run state, stop frames
    for (size_t k = afterStop; k < afterStop + 3; ++k) Fault("nak " + std::to_string(k));
    Queue(130, true);

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_PLC_RUNNING);
    Strings expected = Strings{W().runRead, "ENQ", W().runRead} + W().stop +
                       Strings{W().runRead, W().runRead, W().runRead, "B"};
    EXPECT_EQ(Requests(), expected);
}

TEST_P(DownloadFailure, WrongModelIsStoppedFirstGives10AndStaysStopped) {
    Start(W(), true, 25000);  // model 25: no profile takes it
    Queue(130, true);

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_MODEL_MISMATCH);
    Strings expected =
        Strings{W().runRead, "ENQ", W().runRead} + W().stop + Strings{W().runRead, kModelRead, "B"};
    EXPECT_EQ(Requests(), expected);
    EXPECT_FALSE(sim->IsRunning());
}

TEST_P(DownloadFailure, EmptyProgramGives2WithRunStateReadAndBOnly) {
    Start(W(), false);
    Queue(0, true);

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_COMM_ERROR);
    EXPECT_EQ(Requests(), (Strings{W().runRead, "B"}));
}

TEST_P(DownloadFailure, FailedProgramFrameEndsTransferPlcStaysStopped) {
    Start(W(), true);
    Fault("protect 80DC 80DC");  // the third program frame
    Queue(200, true);

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_TIMEOUT);
    Strings s = Strings{W().runRead, "ENQ", W().runRead} + W().stop +
                Strings{W().runRead, kModelRead} + W().paramWrite;
    if (W().programBit) s.push_back("E7 760E");
    Strings frames = Frames(W().programWrite, 200);
    s = s + Strings{frames[0], frames[1], frames[2], frames[2], frames[2], "B"};
    EXPECT_EQ(Requests(), s);
    EXPECT_FALSE(sim->IsRunning());
    std::vector<uint16_t> forced = sim->ForcedOn();
    bool bitOn = std::find(forced.begin(), forced.end(), 0x0E76) != forced.end();
    EXPECT_EQ(bitOn, W().programBit);
    EXPECT_EQ(WithoutResults(window.Messages()),
              (std::vector<Message>{{WM_DOWNLOAD_PARAMS, 0, 0},
                                    {WM_PROGRESS_RANGE, 0, 200},
                                    {WM_DOWNLOAD_PROGRESS, 64, 200},
                                    {WM_DOWNLOAD_PROGRESS, 128, 200}}));
}

TEST_P(DownloadFailure, CompareFailureGives6WithDumpFilesWhereTheProfileWritesThem) {
    const std::wstring folder = platform::ModuleFolder();
    const std::filesystem::path plcDump = platform::ToUtf8(folder + L"/RamPlc.xbin");
    const std::filesystem::path prjDump = platform::ToUtf8(folder + L"/RamPrj.xbin");
    std::filesystem::remove(plcDump);
    std::filesystem::remove(prjDump);

    Start(W(), true);
    const uint32_t corrupt = 0x805C + 70;
    int ranges = 0;
    // Before the read-back starts, one program byte changes inside the PLC.
    window.hook = [&](const Message& m) {
        if (m.msg == WM_PROGRESS_RANGE && ++ranges == 2) sim->Poke(corrupt, {0x5A});
    };
    Queue(130, true);

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_COMPARE_FAILED);
    EXPECT_FALSE(sim->IsRunning()) << "no restart after a failed compare";
    const uint32_t size = W().profile->model.MaxProgramBytes;
    if (W().profile->writesDumpFiles) {
        std::vector<uint8_t> project(size, 0xFF);
        std::copy(program.begin(), program.end(), project.begin());
        std::vector<uint8_t> plc = project;
        plc[corrupt - 0x805C] = 0x5A;
        EXPECT_EQ(testsupport::ReadBytes(prjDump), project);
        EXPECT_EQ(testsupport::ReadBytes(plcDump), plc);
    } else {
        EXPECT_FALSE(std::filesystem::exists(plcDump));
        EXPECT_FALSE(std::filesystem::exists(prjDump));
    }
    std::filesystem::remove(plcDump);
    std::filesystem::remove(prjDump);
}

INSTANTIATE_TEST_SUITE_P(Profiles, DownloadFailure, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return kWires[info.param].profile->key; });

// --- frame split and progress: 64·k bytes in k full frames, 1..63 in one short frame --------

class FrameSplit : public DownloadTest,
                   public ::testing::WithParamInterface<std::tuple<int, uint32_t>> {};

TEST_P(FrameSplit, FramesAndProgressPairs) {
    const Wire& w = kWires[std::get<0>(GetParam())];
    const uint32_t n = std::get<1>(GetParam());
    Start(w, false);
    Queue(n, false);

    ASSERT_EQ(window.WaitResult(), CMD_RESULT_OK);
    Strings writes;
    for (const std::string& r : Requests()) {
        size_t space = r.find(' ');
        if (r.compare(0, space, w.programWrite) != 0) continue;
        if (std::stoul(r.substr(space + 1, 4), nullptr, 16) >= 0x805C) writes.push_back(r);
    }
    EXPECT_EQ(writes, Frames(w.programWrite, n));
    std::vector<Message> expected = {{WM_DOWNLOAD_PARAMS, 0, 0}};
    EXPECT_EQ(WithoutResults(window.Messages()),
              expected + ExpectedProgress(WM_DOWNLOAD_PROGRESS, n));
    EXPECT_EQ(sim->Peek(0x805C, n), program);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FrameSplit,
                         ::testing::Combine(::testing::Values(0, 2),
                                            ::testing::Values(1u, 63u, 64u, 65u, 128u)),
                         [](const auto& info) {
                             return std::string(kWires[std::get<0>(info.param)].profile->key) +
                                    "_" + std::to_string(std::get<1>(info.param));
                         });

// --- the clear command, per profile ----------------------------------------------------------

class ClearMemory : public DownloadTest, public ::testing::WithParamInterface<int> {
  protected:
    const Wire& W() const { return kWires[GetParam()]; }
};

TEST_P(ClearMemory, RunningPlcIsClearedWithoutBeingStopped) {
    fxsim::Options o;
    o.running = true;
    o.load = Pattern(92 + 256, 0x01);
    StartPlc(*W().profile, o);
    ASSERT_TRUE(pool->AddClearMemoryCommand());

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_OK);
    const std::string d = W().d8003Read;
    EXPECT_EQ(Requests(), (Strings{W().runRead, d, "CODE 61", d, "CODE 60", d, "CODE 63", d,
                                   "CODE 64", "CODE 62"}));
    EXPECT_EQ(sim->Peek(0x805C, 256), std::vector<uint8_t>(256, 0xFF));
    EXPECT_TRUE(sim->IsRunning());
}

TEST_P(ClearMemory, WriteProtectedGives11BeforeAnyClearRequest) {
    fxsim::Options o;
    o.d8003 = 10;
    StartPlc(*W().profile, o);
    ASSERT_TRUE(pool->AddClearMemoryCommand());

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_WRITE_PROTECTED);
    EXPECT_EQ(Requests(), (Strings{W().runRead, W().d8003Read}));
}

INSTANTIATE_TEST_SUITE_P(Profiles, ClearMemory, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return kWires[info.param].profile->key; });

TEST_F(DownloadTest, ClearEndsWhenThePlcStopsAnsweringAtRequest61) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    Fault("silent-after 2");  // the run byte and the protection word are still answered
    ASSERT_TRUE(pool->AddClearMemoryCommand());

    EXPECT_EQ(window.WaitResult(), CMD_RESULT_TIMEOUT);
    EXPECT_EQ(Requests(), (Strings{"E00 01C0 04", "E00 0E06 02", "CODE 61", "CODE 61", "CODE 61"}));
}

}  // namespace
