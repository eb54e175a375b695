#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "package/package.h"
#include "profiles/profile.h"
#include "tests/support/temp_dir.h"
#include "tools/nerio-pack/pack.h"

namespace {

using testsupport::TempDir;

std::vector<uint8_t> Bytes(const char* s) {
    return std::vector<uint8_t>(s, s + std::strlen(s));
}

// A stand-in downloader image and a PLC memory image with a given size class.
std::vector<uint8_t> FakeDownloader(size_t n = 300) {
    std::vector<uint8_t> exe(n);
    for (size_t i = 0; i < n; ++i) exe[i] = static_cast<uint8_t>(i * 7 + 3);
    exe[0] = 'M';
    exe[1] = 'Z';
    return exe;
}

std::vector<uint8_t> ProgramImage(uint8_t sizeClass, size_t programBytes) {
    std::vector<uint8_t> program(92 + programBytes, 0xFF);
    program[0] = sizeClass;
    for (size_t i = 1; i < 92; ++i) program[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < programBytes; ++i) program[92 + i] = static_cast<uint8_t>(0x40 + i % 61);
    return program;
}

// A sealed image by hand, so the tests do not lean on the packaging tool's own layout.
std::vector<uint8_t> SealRaw(std::vector<uint8_t> exe, std::vector<uint8_t> body, uint32_t pmwsize,
                             const uint8_t freeBytes[5]) {
    for (auto& b : body) b ^= 0xA7;
    exe.insert(exe.end(), body.begin(), body.end());
    for (int shift : {24, 16, 8, 0}) exe.push_back(static_cast<uint8_t>(pmwsize >> shift));
    exe.insert(exe.end(), freeBytes, freeBytes + 5);
    uint16_t crc = ImageChecksum(exe.size(), exe.data());
    exe.push_back(static_cast<uint8_t>(crc >> 8));
    exe.push_back(static_cast<uint8_t>(crc));
    return exe;
}

std::vector<uint8_t> Body(const std::vector<uint8_t>& program) {
    std::vector<uint8_t> body(256 + program.size(), 0x11);
    std::copy(program.begin(), program.end(), body.begin() + 256);
    return body;
}

const uint8_t kZeroFree[5] = {0, 0, 0, 0, 0};

int GateOf(const TempDir& dir, const std::vector<uint8_t>& image) {
    testsupport::WriteBytes(dir / "image.exe", image);
    return CheckImageFileIntegrity((dir / "image.exe").wstring());
}

struct ReadResult {
    PackageStatus status;
    uint32_t pmwsize;
    std::vector<uint8_t> body;  // unscrambled
};

ReadResult ReadOf(const TempDir& dir, const std::vector<uint8_t>& image,
                  const tagProfileTraits& profile) {
    testsupport::WriteBytes(dir / "image.exe", image);
    CPackageReader reader;
    std::unique_ptr<uint8_t[]> body(reader.ReadFile((dir / "image.exe").wstring(), profile));
    ReadResult r{reader.status, reader.pmwsize, {}};
    if (body) {
        Unscramble(body.get(), reader.pmwsize);
        r.body.assign(body.get(), body.get() + reader.pmwsize);
    }
    return r;
}

TEST(ImageChecksum, KnownVectors) {
    struct {
        const char* input;
        uint16_t crc;
    } cases[] = {{"123456789", 0x4B37}, {"", 0xFFFF}, {"A", 0x707F}};
    for (const auto& c : cases) {
        auto bytes = Bytes(c.input);
        EXPECT_EQ(ImageChecksum(bytes.size(), bytes.data()), c.crc) << '"' << c.input << '"';
    }
}

class SealedImage : public ::testing::TestWithParam<const tagProfileTraits*> {};

TEST_P(SealedImage, RoundTripThroughGateAndReader) {
    const tagProfileTraits& profile = *GetParam();
    TempDir dir;
    auto program = ProgramImage(3, ProgramLengthForSizeClass(profile, 3) + 17);
    auto image = pack::Seal(FakeDownloader(), program, profile, "line3.bin");
    EXPECT_EQ(GateOf(dir, image), 1);
    ReadResult r = ReadOf(dir, image, profile);
    ASSERT_EQ(r.status, PackageStatus::Ok);
    EXPECT_EQ(r.pmwsize, 256u + program.size());
    // From offset 256 the body is the PLC memory image from 0x8000.
    EXPECT_EQ(std::vector<uint8_t>(r.body.begin() + 256, r.body.end()), program);
    EXPECT_EQ(PackageProgramLength(profile, r.body.data()),
              profile.id == ProfileId::FX1S ? 4000u : 6000u);
}

INSTANTIATE_TEST_SUITE_P(Profiles, SealedImage,
                         ::testing::Values(&kProfileFX1S, &kProfileFX1N, &kProfileFX2N),
                         [](const auto& info) { return std::string(info.param->key); });

TEST(IntegrityGate, EverySingleChangedByteFails) {
    TempDir dir;
    auto image = pack::Seal(FakeDownloader(64), ProgramImage(0, 8), kProfileFX2N, "p");
    ASSERT_EQ(GateOf(dir, image), 1);
    for (size_t i = 0; i < image.size(); ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto damaged = image;
            damaged[i] ^= flip;
            ASSERT_EQ(GateOf(dir, damaged), 0) << "byte " << i << " xor " << int(flip);
        }
    }
}

TEST(IntegrityGate, RefusesWrongSeals) {
    TempDir dir;
    auto image = pack::Seal(FakeDownloader(), ProgramImage(1, 2000), kProfileFX1N, "p");
    size_t n = image.size();
    ASSERT_NE(image[n - 1], image[n - 2]);

    auto swapped = image;
    std::swap(swapped[n - 1], swapped[n - 2]);
    EXPECT_EQ(GateOf(dir, swapped), 0) << "checksum stored low byte first";

    auto zeroed = image;
    zeroed[n - 1] = zeroed[n - 2] = 0;
    ASSERT_NE(ImageChecksum(n - 2, zeroed.data()), 0);
    EXPECT_EQ(GateOf(dir, zeroed), 0) << "last two bytes 00 00";

    EXPECT_EQ(GateOf(dir, FakeDownloader()), 0) << "downloader as built";
    EXPECT_EQ(GateOf(dir, {}), 0) << "empty file";
    EXPECT_EQ(GateOf(dir, {0x42}), 0) << "one byte";
    EXPECT_EQ(CheckImageFileIntegrity((dir / "missing.exe").wstring()), 0);
}

TEST(PackageReader, EmptyPackageIsSealedButSilent) {
    TempDir dir;
    auto image = SealRaw(FakeDownloader(), {}, 0, kZeroFree);
    EXPECT_EQ(GateOf(dir, image), 1);
    ReadResult r = ReadOf(dir, image, kProfileFX2N);
    EXPECT_EQ(r.status, PackageStatus::NoPackage);
    EXPECT_EQ(r.pmwsize, 0u);
}

TEST(PackageReader, FreeTrailerBytesDoNotMatter) {
    TempDir dir;
    auto body = Body(ProgramImage(1, 2000));
    const uint8_t freeA[5] = {0, 0, 0, 0, 0};
    const uint8_t freeB[5] = {'x', 0xFF, 0x13, 0x00, 0x7E};
    ReadResult a =
        ReadOf(dir, SealRaw(FakeDownloader(), body, uint32_t(body.size()), freeA), kProfileFX1S);
    ReadResult b =
        ReadOf(dir, SealRaw(FakeDownloader(), body, uint32_t(body.size()), freeB), kProfileFX1S);
    ASSERT_EQ(a.status, PackageStatus::Ok);
    ASSERT_EQ(b.status, PackageStatus::Ok);
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(a.body, body);
}

// The trailer and the body's size class must agree with the file before a byte goes out.
TEST(PackageReader, BoundsRefusals) {
    TempDir dir;
    auto exe = FakeDownloader(200);
    struct Case {
        const char* what;
        const tagProfileTraits* profile;
        std::vector<uint8_t> body;
        int64_t pmwsizeDelta;  // pmwsize = body size + delta
        PackageStatus expected;
    } cases[] = {
        {"exact fit, size class 1", &kProfileFX2N, Body(ProgramImage(1, 2000)), 0,
         PackageStatus::Ok},
        {"one program byte short", &kProfileFX2N, Body(ProgramImage(1, 1999)), 0,
         PackageStatus::Damaged},
        {"class 4 needs 8000 in FX1N", &kProfileFX1N, Body(ProgramImage(4, 4000)), 0,
         PackageStatus::Damaged},
        {"class 4 is 4000 in FX1S", &kProfileFX1S, Body(ProgramImage(4, 4000)), 0,
         PackageStatus::Ok},
        {"class 0 needs the block only", &kProfileFX1S, Body(ProgramImage(0, 0)), 0,
         PackageStatus::Ok},
        {"no room for a size class", &kProfileFX2N, std::vector<uint8_t>(256, 0), 0,
         PackageStatus::Damaged},
        {"pmwsize one past the file", &kProfileFX2N, Body(ProgramImage(0, 0)), 200 + 1,
         PackageStatus::Damaged},
        {"pmwsize huge", &kProfileFX2N, Body(ProgramImage(0, 0)), 0x7FFFFFF0,
         PackageStatus::Damaged},
    };
    for (const Case& c : cases) {
        uint32_t pmwsize =
            static_cast<uint32_t>(static_cast<int64_t>(c.body.size()) + c.pmwsizeDelta);
        auto image = SealRaw(exe, c.body, pmwsize, kZeroFree);
        ASSERT_EQ(GateOf(dir, image), 1) << c.what;
        ReadResult r = ReadOf(dir, image, *c.profile);
        EXPECT_EQ(r.status, c.expected) << c.what;
        if (c.expected != PackageStatus::Ok) {
            EXPECT_EQ(r.pmwsize, 0u) << c.what;
        }
    }
}

TEST(PackageReader, MissingFileIsNoPackage) {
    TempDir dir;
    CPackageReader reader;
    EXPECT_EQ(reader.ReadFile((dir / "absent.exe").wstring(), kProfileFX2N), nullptr);
    EXPECT_EQ(reader.status, PackageStatus::NoPackage);
}

TEST(Unscramble, IsItsOwnInverseWithOneKey) {
    std::vector<uint8_t> data = {0x00, 0xA7, 0xFF, 0x12};
    Unscramble(data.data(), 4);
    EXPECT_EQ(data, (std::vector<uint8_t>{0xA7, 0x00, 0x58, 0xB5}));
    Unscramble(data.data(), 4);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x00, 0xA7, 0xFF, 0x12}));
}

}  // namespace
