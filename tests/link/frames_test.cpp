// Frames on the wire against the simulated PLC, in every profile.
#include <cstring>

#include "tests/link/link_test_support.h"

namespace linktest {
namespace {

using Frames = SimTest;

TEST_P(Frames, WorkedExamplesGoOutByteForByte) {
    PlcRam[0x0E02] = PlcRam[0x0E03] = 0;
    EXPECT_EQ(USB_ReadFrameBase(2, 0x0E02), CMD_RESULT_OK);
    EXPECT_EQ(USB_GetRunState(), CMD_RESULT_PLC_STOPPED);
    EXPECT_EQ(USB_ForceOn(RELAY_STOP), CMD_RESULT_OK);
    EXPECT_EQ(USB_CommandB(), CMD_RESULT_OK);
    EXPECT_EQ(USB_SendCode(0x61), CMD_RESULT_OK);
    EXPECT_EQ(USB_Enquire(), CMD_RESULT_OK);
    std::vector<std::string> expected =
        Extended()
            ? std::vector<std::string>{"rx 0 0E02 02 6C", "rx E00 01C0 04 E0", "rx E7 E501 5A",
                                       "rx B 45",         "rx CODE 61 6A",     "rx ENQ"}
            : std::vector<std::string>{"rx 0 0E02 02 6C", "rx 0 01E0 01 6A", "rx 7 250F 17",
                                       "rx B 45",         "rx CODE 61 6A",   "rx ENQ"};
    EXPECT_EQ(Rx(), expected);
    // The model word read first is still in the image after the run-byte read.
    std::vector<uint8_t> model = m_peer->Peek(0x0E02, 2);
    EXPECT_EQ(PlcRam[0x0E02], model[0]);
    EXPECT_EQ(PlcRam[0x0E03], model[1]);
    EXPECT_EQ(PlcRam[0x0E03] * 256 + PlcRam[0x0E02], m_profile->model.ModelCode * 1000 + 100);
}

TEST_P(Frames, SpaceSelectorFollowsTheProgramRange) {
    struct Case {
        uint16_t address;
        const char* fx1s;
        const char* fx1n;
        const char* fx2n;
    };
    const Case cases[] = {{0x7FFF, "0", "E00", "E00"}, {0x8000, "0", "E00", "E01"},
                          {0x805B, "0", "E00", "E01"}, {0x805C, "0", "E01", "E01"},
                          {0xFD5B, "0", "E01", "E01"}, {0xFD5C, "0", "E00", "E00"}};
    for (const Case& c : cases) {
        EXPECT_EQ(USB_ReadFrame(1, c.address), CMD_RESULT_OK);
        EXPECT_EQ(USB_WriteFrame(c.address, 1), CMD_RESULT_OK);
    }
    std::vector<std::string> rx = Rx();
    ASSERT_EQ(rx.size(), 2 * std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        std::string read = m_profile->id == ProfileId::FX1S   ? c.fx1s
                           : m_profile->id == ProfileId::FX1N ? c.fx1n
                                                              : c.fx2n;
        std::string write = read == "0" ? "1" : "E1" + read.substr(2);
        char address[5];
        std::snprintf(address, sizeof address, "%04X", c.address);
        EXPECT_EQ(NoSum(rx[2 * i]), "rx " + read + " " + address + " 01");
        EXPECT_EQ(Tokens(rx[2 * i + 1])[1], write) << address;
        EXPECT_EQ(Tokens(rx[2 * i + 1])[2], address);
    }
}

TEST_P(Frames, FullWriteFrameCarriesSixtyFourBytesFromTheImage) {
    for (int i = 0; i < 64; ++i) PlcRam[0x805C + i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_EQ(USB_WriteFrame(0x805C, 64), CMD_RESULT_OK);
    std::vector<std::string> rx = Rx();
    ASSERT_EQ(rx.size(), 1u);
    std::vector<std::string> t = Tokens(rx[0]);
    ASSERT_EQ(t.size(), 6u);
    std::string digits;
    for (int i = 0; i < 64; ++i) {
        digits += HexDigit(PlcRam[0x805C + i] >> 4);
        digits += HexDigit(PlcRam[0x805C + i] & 15);
    }
    EXPECT_EQ(t[1], Extended() ? "E11" : "1");
    EXPECT_EQ(t[2] + " " + t[3], "805C 40");
    EXPECT_EQ(t[4], digits);
    // STX, command, address, count, data, ETX, sum.
    size_t sent = 1 + t[1].size() + 4 + 2 + t[4].size() + 1 + 2;
    EXPECT_EQ(sent, Extended() ? 141u : 139u);
    std::vector<uint8_t> stored = m_peer->Peek(0x805C, 64);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), PlcRam + 0x805C));
}

TEST_P(Frames, ZeroBytesAndEmptyNamesSendNothing) {
    EXPECT_EQ(USB_ReadFrame(0, 0x805C), CMD_RESULT_PORT_CLOSED);
    EXPECT_EQ(USB_ReadFrameBase(0, 0x0E02), CMD_RESULT_PORT_CLOSED);
    EXPECT_EQ(USB_WriteFrame(0x805C, 0), CMD_RESULT_PORT_CLOSED);
    EXPECT_EQ(USB_ReadPlcRam(0, 0x805C), CMD_RESULT_PORT_CLOSED);
    EXPECT_EQ(USB_WritePlcRam(0, 0x805C), CMD_RESULT_PORT_CLOSED);
    EXPECT_EQ(USB_ForceOn(L""), CMD_RESULT_PORT_CLOSED);
    EXPECT_EQ(USB_ForceOff(nullptr), CMD_RESULT_PORT_CLOSED);
    tagPlcRequest empty{};
    EXPECT_EQ(USB_Transact(empty), CMD_RESULT_COMM_ERROR);
    EXPECT_TRUE(m_peer->Transcript().empty());
}

TEST_P(Frames, ForceOfADeviceWithoutRuleGoesToAddressZero) {
    EXPECT_EQ(USB_ForceOn(L"Q5"), CMD_RESULT_OK);
    std::vector<std::string> rx = Rx();
    ASSERT_EQ(rx.size(), 1u);
    EXPECT_EQ(NoSum(rx[0]), Extended() ? "rx E7 0000" : "rx 7 0000");
}

TEST_P(Frames, WrongSumLeavesTheImageUntouched) {
    PlcRam[0x0E02] = 0xAA;
    PlcRam[0x0E03] = 0xBB;
    Sim("fault badsum 1");
    Sim("fault badsum 2");
    Sim("fault badsum 3");
    EXPECT_EQ(USB_ReadFrameBase(2, 0x0E02), CMD_RESULT_TIMEOUT);
    EXPECT_EQ(PlcRam[0x0E02], 0xAA);
    EXPECT_EQ(PlcRam[0x0E03], 0xBB);
    // One corrupted reply costs one attempt; the second reply is taken.
    Sim("fault badsum 1");
    EXPECT_EQ(USB_ReadFrameBase(2, 0x0E02), CMD_RESULT_OK);
    EXPECT_EQ(PlcRam[0x0E03] * 256 + PlcRam[0x0E02], m_profile->model.ModelCode * 1000 + 100);
    EXPECT_EQ(Rx().size(), 5u);
}

TEST_P(Frames, BlocksSplitIntoSixtyFourByteFrames) {
    struct Case {
        uint16_t count;
        uint16_t address;
        std::vector<std::string> frames;  // address and count of every frame
    };
    const Case cases[] = {{64, 0x805C, {"805C 40"}},
                          {65, 0x805C, {"805C 40", "809C 01"}},
                          {128, 0x805C, {"805C 40", "809C 40"}},
                          {92, 0x8000, {"8000 40", "8040 1C"}}};
    for (const Case& c : cases) {
        m_peer->Control("transcript clear");
        ASSERT_EQ(USB_WritePlcRam(c.count, c.address), CMD_RESULT_OK);
        ASSERT_EQ(USB_ReadPlcRam(c.count, c.address), CMD_RESULT_OK);
        std::vector<std::string> got;
        for (const std::string& l : Rx()) {
            std::vector<std::string> t = Tokens(l);
            got.push_back(t[2] + " " + t[3]);
        }
        std::vector<std::string> expected = c.frames;
        expected.insert(expected.end(), c.frames.begin(), c.frames.end());
        EXPECT_EQ(got, expected) << c.count << " bytes";
    }
}

TEST_P(Frames, BlockStopsAtTheFirstFailingFrame) {
    std::string pattern;
    for (int i = 0; i < 64; ++i) pattern += "5A";
    Sim("poke 805C " + pattern);
    std::memset(PlcRam + 0x805C, 0, 128);
    Sim("fault nak 2");
    Sim("fault nak 3");
    Sim("fault nak 4");
    EXPECT_EQ(USB_ReadPlcRam(128, 0x805C), CMD_RESULT_TIMEOUT);
    EXPECT_EQ(PlcRam[0x805C], 0x5A);
    EXPECT_EQ(PlcRam[0x805C + 63], 0x5A);
    std::vector<std::string> rx = Rx();
    ASSERT_EQ(rx.size(), 4u);
    EXPECT_EQ(Tokens(rx[3])[2], "809C");
}

TEST_P(Frames, ModelCheckDividesTheModelWordByAThousand) {
    const int code = m_profile->model.ModelCode;
    struct Case {
        int word;
        int16_t code;
        int expected;
    } cases[] = {{code * 1000, static_cast<int16_t>(code), 1},
                 {code * 1000 + 999, static_cast<int16_t>(code), 1},
                 {(code + 1) * 1000, static_cast<int16_t>(code), 0},
                 {24000, 24, 1},
                 {24999, 24, 1},
                 {25999, 24, 0},
                 {25000, static_cast<int16_t>(code), 0}};
    for (const Case& c : cases) {
        Sim("set model " + std::to_string(c.word));
        EXPECT_EQ(USB_CheckModel(c.code), c.expected) << c.word << " vs " << c.code;
    }
    // The model word always travels as a classic read.
    for (const std::string& l : Rx()) EXPECT_EQ(NoSum(l), "rx 0 0E02 02");
}

INSTANTIATE_TEST_SUITE_P(Profiles, Frames, ::testing::Values("fx1s", "fx1n", "fx2n"), ProfileName);

}  // namespace
}  // namespace linktest
