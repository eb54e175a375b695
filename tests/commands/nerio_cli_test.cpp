// The nerio program as a shell runs it, against the simulated PLC: exit status and the
// result text for each kind of outcome.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "package/package.h"
#include "tests/commands/plc_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/nerio-pack/pack.h"

extern char** environ;

namespace {

struct Outcome {
    int exit = -1;
    std::string output;  // stdout and stderr
    std::string LastLine() const {
        std::string s = output;
        while (!s.empty() && s.back() == '\n') s.pop_back();
        size_t cut = s.rfind('\n');
        return cut == std::string::npos ? s : s.substr(cut + 1);
    }
};

Outcome RunNerio(std::vector<std::string> args, const std::string& lang) {
    args.insert(args.begin(), NERIO_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"LANG=" + lang, "PATH=/usr/bin:/bin"};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("ASAN_OPTIONS=", 0) == 0) env.push_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    pid_t pid = -1;
    int err = posix_spawn(&pid, NERIO_PROGRAM, &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    Outcome o;
    if (err != 0) {
        close(fds[0]);
        return o;
    }
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) o.output.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

// A memory image from 0x8000: size class 1, so 2000 program bytes follow the block.
std::vector<uint8_t> MemoryImage() {
    std::vector<uint8_t> image(92 + 2000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 11 + 1);
    image[0] = 1;
    return image;
}

struct CliCase {
    const char* name;
    const char* verb;
    const tagProfileTraits* profile;
    int model;          // -1: the profile's own
    int d8003;          //
    const char* fault;  // "" for none
    const char* port;   // "" for the simulated PLC
    const char* lang;
    int exit;
    const char* lastLine;
};

const CliCase kCases[] = {
    {"Completed", "download", &kProfileFX2N, -1, 0, "", "", "C", 0, "Download completed!"},
    {"CompletedChinese", "download", &kProfileFX1S, -1, 0, "", "", "zh_CN.UTF-8", 0, "下载完毕！"},
    {"Timeout", "download", &kProfileFX2N, -1, 0, "nak-kind ENQ", "", "C", 3,
     "Download failed: Communication command execution timeout!"},
    {"PortMissing", "download", &kProfileFX2N, -1, 0, "", "/nonexistent/ttyNERIO", "C", 4,
     "Download failed: Serial port not opened!"},
    {"WrongModel", "download", &kProfileFX1N, 24100, 0, "", "", "en_US.UTF-8", 10,
     "Download failed: The current PLC model is inconsistent with the software!"},
    {"ClearCompleted", "clear", &kProfileFX1N, -1, 0, "", "", "C", 0,
     "This command completed execution!"},
    {"ClearProtected", "clear", &kProfileFX2N, -1, 10, "", "", "C", 11,
     "Current PLC has write protection, operation failed!"},
    {"Info", "info", &kProfileFX1S, 22100, 10, "", "", "C", 0, "This command completed execution!"},
};

class NerioCli : public ::testing::TestWithParam<CliCase>, public cmdtest::PlcFixture {
  protected:
    void TearDown() override { StopPlc(); }
};

TEST_P(NerioCli, ExitStatusAndResultText) {
    const CliCase& c = GetParam();
    fxsim::Options o;
    o.model = c.model;
    o.d8003 = c.d8003;
    StartPlc(*c.profile, o);
    SelectedPort = -1;  // the PLC belongs to the program under test
    if (*c.fault) Fault(c.fault);
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir / "image.bin", MemoryImage());

    std::vector<std::string> args = {c.verb, "--profile", c.profile->key, "--port",
                                     *c.port ? c.port : server->SlavePath()};
    if (std::string(c.verb) == "download") args.push_back((dir / "image.bin").string());
    Outcome out = RunNerio(args, c.lang);

    EXPECT_EQ(out.exit, c.exit) << out.output;
    EXPECT_EQ(out.LastLine(), c.lastLine) << out.output;
    if (std::string(c.verb) == "info") {
        EXPECT_NE(out.output.find("model word D8001: 22100 (model 22"), std::string::npos)
            << out.output;
        EXPECT_NE(out.output.find("run state: STOP"), std::string::npos) << out.output;
        EXPECT_NE(out.output.find("D8003: 10 (write-protected)"), std::string::npos) << out.output;
    }
    if (c.exit == 0 && std::string(c.verb) == "download") {
        std::vector<uint8_t> image = MemoryImage();
        EXPECT_EQ(sim->Peek(0x8000, image.size()), image);
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, NerioCli, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class NerioCliImage : public ::testing::Test, public cmdtest::PlcFixture {
  protected:
    void TearDown() override { StopPlc(); }
};

// The read-back differs because the PLC's copy changes while the command waits before it.
TEST_F(NerioCliImage, CompareFailureExits6) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    SelectedPort = -1;
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir / "image.bin", MemoryImage());
    auto run = std::async(std::launch::async, [&] {
        return RunNerio({"download", "--profile", "fx2n", "--port", server->SlavePath(), "--verify",
                         (dir / "image.bin").string()},
                        "C");
    });
    // The closing 'B' is followed by ENQ, the model read, the parameter read and a 200 ms
    // wait before the first program frame is read back.
    bool seen = false;
    while (!seen && run.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
        std::vector<std::string> rx = Requests();
        seen = std::find(rx.begin(), rx.end(), "B") != rx.end();
    }
    ASSERT_TRUE(seen);
    sim->Poke(0x805C + 100, {0x00});
    Outcome out = run.get();
    EXPECT_EQ(out.exit, 6) << out.output;
    EXPECT_EQ(out.LastLine(), "Download failed: Compare file failed!");
}

TEST_F(NerioCliImage, SealedDownloaderIsReadThroughItsPackage) {
    StartPlc(kProfileFX1S, fxsim::Options{});
    SelectedPort = -1;
    testsupport::TempDir dir;
    std::vector<uint8_t> downloader = {'M', 'Z'};
    downloader.resize(4096, 0x90);
    testsupport::WriteBytes(dir / "Nerio1S.exe",
                            pack::Seal(downloader, MemoryImage(), kProfileFX1S, "image.bin"));
    Outcome out = RunNerio({"download", "--profile", "fx1s", "--port", server->SlavePath(),
                            (dir / "Nerio1S.exe").string()},
                           "C");
    EXPECT_EQ(out.exit, 0) << out.output;
    std::vector<uint8_t> image = MemoryImage();
    EXPECT_EQ(sim->Peek(0x8000, image.size()), image);
}

TEST_F(NerioCliImage, DamagedPackageIsRefusedBeforeAnyTraffic) {
    StartPlc(kProfileFX2N, fxsim::Options{});
    SelectedPort = -1;
    testsupport::TempDir dir;
    // Sealed, but its trailer claims a body larger than the whole file.
    std::vector<uint8_t> image = {'M', 'Z'};
    image.resize(600, 0x90);
    image.insert(image.end(), {0x00, 0x10, 0x00, 0x00, 'N', 'R', 'P', 1, 0});
    uint16_t crc = ImageChecksum(image.size(), image.data());
    image.push_back(static_cast<uint8_t>(crc >> 8));
    image.push_back(static_cast<uint8_t>(crc & 0xFF));
    testsupport::WriteBytes(dir / "Nerio2N.exe", image);

    for (const char* lang : {"C", "zh_CN.UTF-8"}) {
        Outcome out = RunNerio({"download", "--profile", "fx2n", "--port", server->SlavePath(),
                                (dir / "Nerio2N.exe").string()},
                               lang);
        EXPECT_EQ(out.exit, 20) << out.output;
        EXPECT_EQ(out.LastLine(), std::string(lang) == "C"
                                      ? "The current file is damaged, please contact your "
                                        "software manufacturer!"
                                      : "文件损坏，请联系软件制作商！");
    }
    EXPECT_TRUE(Requests().empty());
}

}  // namespace
