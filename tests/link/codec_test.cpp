// Codec helpers, the force map and the image, without a PLC.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "platform/platform.h"
#include "profiles/active.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(Codec, HexDigitsBothWays) {
    EXPECT_EQ(HexDigit(0), '0');
    EXPECT_EQ(HexDigit(10), 'A');
    EXPECT_EQ(HexDigit(15), 'F');
    EXPECT_EQ(HexValue('9'), 9);
    EXPECT_EQ(HexValue('C'), 12);
    EXPECT_EQ(HexValue('c'), 12);
    EXPECT_EQ(HexValue(' '), 32);
    EXPECT_EQ(HexValue('G'), 0);
    EXPECT_EQ(HexValue(0x06), 0);
}

TEST(Codec, SumRunsFromAfterStxThroughEtx) {
    const uint8_t frame[] = {STX, 'E', '0', '0', '0', '1', 'C', '0', '0', '4', ETX};
    EXPECT_EQ(FrameSum(frame, 10), 0xE0);
    const uint8_t b[] = {STX, 'B', ETX};
    EXPECT_EQ(FrameSum(b, 2), 0x45);
}

tagPlcRequest DataReply(const char* text, uint16_t imageAddress) {
    tagPlcRequest r{};
    r.RequestKind = REQ_EREAD_DEVICE;
    size_t n = std::strlen(text);
    std::memcpy(r.Reply, text, n);
    r.Reply[0] = STX;
    r.Reply[n - 3] = ETX;
    r.ExpectedLength = static_cast<uint8_t>(n);
    r.ImageAddress = imageAddress;
    return r;
}

TEST(Codec, DataReplyIsJudgedByFramingAndSum) {
    // '.' marks STX and ETX; "ab" sums with ETX to 0xC6.
    struct Case {
        const char* reply;
        int accepted;
    } cases[] = {{".ab.c6", 1}, {".ab.C6", 1}, {".AB.86", 1}, {".ab.c7", 0}};
    for (const Case& c : cases) {
        PlcRam[0x2000] = 0x11;
        tagPlcRequest r = DataReply(c.reply, 0x2000);
        EXPECT_EQ(USB_CheckReply(r), c.accepted) << c.reply;
        EXPECT_EQ(PlcRam[0x2000], c.accepted ? 0xAB : 0x11) << c.reply;
    }
    tagPlcRequest ack{};
    ack.RequestKind = REQ_EWRITE_PROGRAM;
    ack.ExpectedLength = 1;
    ack.Reply[0] = ACK;
    EXPECT_EQ(USB_CheckReply(ack), 1);
    ack.Reply[0] = 0x15;
    EXPECT_EQ(USB_CheckReply(ack), 0);
    ack.Reply[0] = ACK;
    ack.RequestKind = 0x0099;
    EXPECT_EQ(USB_CheckReply(ack), 0);
    ack.RequestKind = REQ_ENQ;
    ack.ExpectedLength = 0;
    EXPECT_EQ(USB_CheckReply(ack), 0);
}

TEST(ForceMap, DeviceNamesMapPerCommandSet) {
    struct Case {
        const wchar_t* name;
        uint16_t extended;
        uint16_t classic;
    } cases[] = {
        {L"X10", 0x1208, 0x408},
        {L"X8", 0x1200, 0x400},
        {L"Y7", 0x0C07, 0x507},
        {L"M8035", 0x1E3, 0xF23},
        {L"M8036", 0x1E4, 0xF24},
        {L"M8037", 0x1E5, 0xF25},
        {L"M8000", 0x1C0, 0xF00},
        {L"M8255", 0x2BF, 0xFFF},
        {L"M8256", 8256, 8256 + 0x800},
        {L"M100", 100, 100 + 0x800},
        {L"S16", 0x282, 16},
        {L"T8", 0x201, 0x608},
        {L"C16", 0x1E2, 0xE10},
        {L"D8", 0x4001, 0x1008},
        {L"Q5", 0, 0},
        {L"m5", 0, 0},
        {L"", 0, 0},
    };
    for (const tagProfileTraits* p : {&kProfileFX1S, &kProfileFX1N, &kProfileFX2N}) {
        UseProfile(*p);
        for (const Case& c : cases) {
            EXPECT_EQ(GetForceAddress(c.name), p->extendedCommands ? c.extended : c.classic)
                << p->key << " " << platform::ToUtf8(c.name);
        }
    }
    UseProfile(kProfileFX2N);
}

TEST(PlcImage, CopiesAndDumps) {
    std::vector<uint8_t> program(16000);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 13);
    std::vector<std::wstring> boxes;
    platform::SetAppMessageBoxSink([&](const std::wstring& t) { boxes.push_back(t); });
    SetPlcRam(0x805C, 16000, program.data());
    platform::SetAppMessageBoxSink(nullptr);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(std::memcmp(PlcRam + 0x805C, program.data(), program.size()), 0);

    std::vector<uint8_t> project(program);
    project[5] ^= 0xFF;
    ASSERT_TRUE(WritePlcDumpFiles(0x805C, project.data(), 16000));
    std::filesystem::path folder(platform::ModuleFolder());
    std::vector<uint8_t> plc = testsupport::ReadBytes(folder / "RamPlc.xbin");
    std::vector<uint8_t> prj = testsupport::ReadBytes(folder / "RamPrj.xbin");
    std::filesystem::remove(folder / "RamPlc.xbin");
    std::filesystem::remove(folder / "RamPrj.xbin");
    EXPECT_EQ(plc, program);
    EXPECT_EQ(prj, project);
}

}  // namespace
