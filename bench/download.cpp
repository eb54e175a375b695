// Download timing against fxsim at the real line rate: elapsed time against what the line
// itself needs (every byte at 1.0417 ms, the fixed waits, the simulator's think time, any
// retry pauses), and the CPU time the downloader spent meanwhile.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "commands/download.h"
#include "commands/messages.h"
#include "link/result_codes.h"
#include "platform/notify.h"
#include "platform/platform.h"
#include "profiles/active.h"
#include "serial/serial_port.h"

extern char** environ;

namespace {

constexpr double kCharMs = 1.0416667;  // 10 bits at 9600 baud
constexpr int kTurnaroundMs = 2;
constexpr double kRetryPauseMs = 100;  // the transaction's pause after a failed attempt
constexpr auto kLinkWait = std::chrono::seconds(5);
constexpr auto kResultWait = std::chrono::minutes(5);

struct Case {
    const tagProfileTraits* profile;
    uint32_t programBytes;
    bool verify;
};

struct LineUse {
    uint64_t bytes = 0;
    int replies = 0;
    int retries = 0;
    int requests = 0;
};

// Bytes on the wire of one transcript line (after its timestamp).
LineUse CountLine(const std::vector<std::string>& t) {
    LineUse u;
    if (t.size() < 2) return u;
    if (t[0] == "rx") {
        ++u.requests;
        if (t[1] == "ENQ") {
            u.bytes = 1;
            return u;
        }
        // STX, the tokens as sent (the code kind has no letters of its own), ETX.
        u.bytes = 2;
        for (size_t i = (t[1] == "CODE" ? 2 : 1); i < t.size(); ++i) u.bytes += t[i].size();
        return u;
    }
    if (t[0] == "tx") {
        if (t[1].rfind("(", 0) == 0) return u;  // dropped or silent: nothing sent
        ++u.replies;
        u.bytes = t[1] == "DATA" && t.size() >= 4 ? 2 + t[2].size() + t[3].size() : 1;
    }
    return u;
}

LineUse CountTranscript(const std::string& path) {
    LineUse total;
    std::ifstream in(path);
    std::string line, previousRx;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> t;
        std::string w;
        words >> w;  // timestamp
        while (words >> w) t.push_back(w);
        LineUse u = CountLine(t);
        total.bytes += u.bytes;
        total.replies += u.replies;
        total.requests += u.requests;
        if (u.requests != 0) {
            if (line.substr(line.find(' ')) == previousRx) ++total.retries;
            previousRx = line.substr(line.find(' '));
        }
    }
    return total;
}

class ResultWindow {
  public:
    ResultWindow() {
        m_wnd = platform::RegisterNotifySink([this](uint32_t msg, uintptr_t, intptr_t l) {
            if (msg == WM_SERIAL_POOL) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_result = static_cast<int>(l);
                m_cv.notify_all();
            }
            return intptr_t{1};
        });
    }
    ~ResultWindow() { platform::UnregisterNotifySink(m_wnd); }
    platform::WindowHandle Handle() const { return m_wnd; }
    int Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, kResultWait, [this] { return m_result != 0; });
        return m_result;
    }

  private:
    platform::WindowHandle m_wnd;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_result = 0;
};

double CpuMs() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

bool Run(const Case& c, const std::string& dir) {
    const std::string link = dir + "/plc";
    const std::string transcript = dir + "/transcript.txt";
    std::string turnaround = std::to_string(kTurnaroundMs);
    std::vector<std::string> args = {FXSIM_PROGRAM, "--profile",    c.profile->key, "--link",
                                     link,          "--pace",       "--turnaround", turnaround,
                                     "--running",   "--transcript", transcript};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t sim = -1;
    int err = posix_spawn(&sim, FXSIM_PROGRAM, nullptr, nullptr, argv.data(), environ);
    if (err != 0) {
        std::fprintf(stderr, "bench_download: cannot start %s (error %d)\n", FXSIM_PROGRAM, err);
        return false;
    }
    struct stat st;
    auto deadline = std::chrono::steady_clock::now() + kLinkWait;
    while (lstat(link.c_str(), &st) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    UseProfile(*c.profile);
    SelectedPort = -1;
    CSerialCommandPool* pool = CSerialCommandPool::GetInstance();
    pool->Start();
    ResultWindow window;
    pool->m_hNotifyWnd = window.Handle();
    SetComDevice(1, link);
    SelectedPort = 1;

    std::vector<uint8_t> params(92, 0x00), program(c.programBytes);
    params[0] = static_cast<uint8_t>(c.programBytes / 2000);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 13 + 5);

    double cpu0 = CpuMs();
    auto t0 = std::chrono::steady_clock::now();
    pool->AddDownloadCommand(window.Handle(), c.profile->model, program.data(), c.programBytes,
                             params.data(), c.programBytes, c.verify ? TRUE : FALSE);
    int result = window.Wait();
    double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    double cpu = CpuMs() - cpu0;

    SelectedPort = -1;
    pool->Stop(FALSE);
    SetComDevice(1, "");
    kill(sim, SIGTERM);
    int status = 0;
    waitpid(sim, &status, 0);

    LineUse use = CountTranscript(transcript);
    double waits = CSerialCommandDownload::kParamSettleMs +
                   CSerialCommandDownload::kProgramSettleMs +
                   (c.verify ? CSerialCommandDownload::kParamSettleMs : 0);
    double bound =
        use.bytes * kCharMs + waits + use.replies * kTurnaroundMs + use.retries * kRetryPauseMs;
    std::printf("%s: %u program bytes%s, result %d\n", c.profile->key, c.programBytes,
                c.verify ? " with verify" : "", result);
    std::printf("  requests %d, replies %d, retries %d, bytes on the line %llu\n", use.requests,
                use.replies, use.retries, static_cast<unsigned long long>(use.bytes));
    std::printf(
        "  elapsed %.1f ms, line-time bound %.1f ms (bytes %.1f + waits %.0f + "
        "turnarounds %d + pauses %.0f), ratio %.4f\n",
        elapsed, bound, use.bytes * kCharMs, waits, use.replies * kTurnaroundMs,
        use.retries * kRetryPauseMs, elapsed / bound);
    std::printf("  downloader CPU %.1f ms = %.2f %% of elapsed\n", cpu, 100.0 * cpu / elapsed);
    std::fflush(stdout);
    return result == CMD_RESULT_OK;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/nerio-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) {
        std::perror("bench_download: mkdtemp");
        return 1;
    }
    platform::SetDebugSink([](const std::wstring&) {});
    const Case cases[] = {{&kProfileFX2N, 8000, true}, {&kProfileFX1S, 4000, true}};
    bool ok = true;
    for (const Case& c : cases) ok = Run(c, dir) && ok;
    std::string cleanup = std::string(dir) + "/transcript.txt";
    unlink(cleanup.c_str());
    rmdir(dir);
    return ok ? 0 : 1;
}
