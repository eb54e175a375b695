// nerio: downloads a program into a PLC, clears its memory or shows its state, from a shell.
// The jobs run on the command pool exactly as the dialog's buttons start them.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "commands/clear_memory.h"
#include "commands/download.h"
#include "commands/messages.h"
#include "commands/serial_command.h"
#include "link/result_codes.h"
#include "package/package.h"
#include "platform/debuglog.h"
#include "platform/notify.h"
#include "platform/platform.h"
#include "profiles/active.h"
#include "res/catalogue.h"
#include "serial/serial_port.h"
#include "tools/nerio/info_command.h"

namespace {

// Exit statuses besides the result codes 2..12 (0 stands for result 1).
constexpr int kExitDamaged = 20;  // the downloader's package is refused as damaged
constexpr int kExitInterrupted = 130;
constexpr int kExitUsage = 64;
constexpr int kExitBadImage = 65;  // unreadable, or a memory image too short for its size class

// The port a device path is mapped to.
constexpr int kDevicePortNumber = 1;
// How often the waiting main thread looks for an interrupt.
constexpr auto kInterruptPoll = std::chrono::milliseconds(50);
constexpr int kBarWidth = 40;

const char kUsage[] =
    "usage: nerio download --profile fx1s|fx1n|fx2n --port PORT [--verify] IMAGE\n"
    "       nerio clear    --profile fx1s|fx1n|fx2n --port PORT\n"
    "       nerio info     --profile fx1s|fx1n|fx2n --port PORT\n"
    "PORT is a device path (/dev/ttyUSB0) or COM<n>; IMAGE is a sealed downloader or a copy\n"
    "of PLC memory from 0x8000 (92-byte parameter block, then the program).\n";

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
    g_interrupted = true;
}

// Chinese texts under a zh_CN locale, English otherwise; the first of LC_ALL, LC_MESSAGES
// and LANG that is set decides.
int LanguageOffset() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v == nullptr || *v == '\0') continue;
        return std::strncmp(v, "zh_CN", 5) == 0 ? kChineseOffset : kEnglishOffset;
    }
    return kEnglishOffset;
}

std::string Text(const tagProfileTraits& profile, unsigned id, int offset) {
    return platform::ToUtf8(CatalogueText(profile, id + static_cast<unsigned>(offset)));
}

// The catalogue's progress texts carry one %u for the percentage.
std::string Percent(const std::string& format, unsigned value) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char c = format[++i];
            if (c == 'u') out += std::to_string(value);
            if (c == '%') out += '%';
            continue;
        }
        out += format[i];
    }
    return out;
}

// Stands in for the dialog: receives the worker's messages and shows them on the terminal.
class Console {
  public:
    Console(const tagProfileTraits& profile, int offset)
        : m_profile(profile), m_offset(offset), m_tty(isatty(STDOUT_FILENO) == 1) {
        m_wnd = platform::RegisterNotifySink(
            [this](uint32_t msg, uintptr_t w, intptr_t l) { return OnMessage(msg, w, l); });
    }
    ~Console() { platform::UnregisterNotifySink(m_wnd); }

    platform::WindowHandle Window() const { return m_wnd; }

    // The result code of the finished command, or 0 when interrupted first.
    int WaitResult(CSerialCommandBase** command) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_done && !g_interrupted) m_cv.wait_for(lock, kInterruptPoll);
        if (!m_done) return 0;
        *command = m_command;
        return m_result;
    }

    void EndLine() {
        if (m_tty && m_barOpen) std::fputs("\n", stdout);
        m_barOpen = false;
        std::fflush(stdout);
    }

    // Run on the worker while the command is still alive.
    std::function<void(CSerialCommandBase*, int)> onResult;

  private:
    intptr_t OnMessage(uint32_t msg, uintptr_t w, intptr_t l) {
        switch (msg) {
            case WM_DOWNLOAD_PARAMS:
                EndLine();
                std::printf("%s\n", Text(m_profile, 20022, m_offset).c_str());
                std::fflush(stdout);
                return 1;
            case WM_PROGRESS_RANGE:
                EndLine();
                m_lastPercent = -1;
                return 1;
            case WM_DOWNLOAD_PROGRESS:
            case WM_VERIFY_PROGRESS:
                Progress(msg == WM_DOWNLOAD_PROGRESS ? 20023 : 20024, static_cast<uint32_t>(w),
                         static_cast<uint32_t>(l));
                return 1;
            case WM_SERIAL_POOL: {
                EndLine();
                CSerialCommandBase* command = reinterpret_cast<CSerialCommandBase*>(w);
                if (onResult) onResult(command, static_cast<int>(l));
                std::lock_guard<std::mutex> lock(m_mutex);
                m_done = true;
                m_command = command;
                m_result = static_cast<int>(l);
                m_cv.notify_all();
                return 1;
            }
            default:
                return 0;
        }
    }

    void Progress(unsigned textId, uint32_t done, uint32_t total) {
        if (total == 0) return;
        unsigned percent = static_cast<unsigned>(static_cast<uint64_t>(done) * 100 / total);
        std::string text = Percent(Text(m_profile, textId, m_offset), percent);
        if (m_tty) {
            int filled = static_cast<int>(static_cast<uint64_t>(done) * kBarWidth / total);
            std::string bar(static_cast<size_t>(filled), '#');
            bar.append(static_cast<size_t>(kBarWidth - filled), '.');
            std::printf("\r[%s] %s (%u/%u)", bar.c_str(), text.c_str(), done, total);
            m_barOpen = true;
        } else if (static_cast<int>(percent) != m_lastPercent) {
            std::printf("%s\n", text.c_str());
        }
        m_lastPercent = static_cast<int>(percent);
        std::fflush(stdout);
    }

    const tagProfileTraits& m_profile;
    int m_offset;
    bool m_tty;
    bool m_barOpen = false;
    int m_lastPercent = -1;
    platform::WindowHandle m_wnd = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    CSerialCommandBase* m_command = nullptr;
    int m_result = 0;
};

struct Arguments {
    std::string verb;
    const tagProfileTraits* profile = nullptr;
    std::string port;
    bool verify = false;
    std::string image;
};

bool ParseArguments(int argc, char** argv, Arguments& a) {
    if (argc < 2) return false;
    a.verb = argv[1];
    if (a.verb != "download" && a.verb != "clear" && a.verb != "info") return false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--profile" && i + 1 < argc) {
            a.profile = FindProfile(argv[++i]);
            if (a.profile == nullptr) return false;
        } else if (arg == "--port" && i + 1 < argc) {
            a.port = argv[++i];
        } else if (arg == "--verify" && a.verb == "download") {
            a.verify = true;
        } else if (arg.rfind("--", 0) != 0 && a.verb == "download" && a.image.empty()) {
            a.image = arg;
        } else {
            return false;
        }
    }
    if (a.profile == nullptr || a.port.empty()) return false;
    return a.verb != "download" || !a.image.empty();
}

// COM<n> as the serial layer resolves it, anything else a device path.
void SelectPort(const std::string& port) {
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0) &&
        port.find_first_not_of("0123456789", 3) == std::string::npos) {
        SelectedPort = std::atoi(port.c_str() + 3);
        return;
    }
    SetComDevice(kDevicePortNumber, port);
    SelectedPort = kDevicePortNumber;
}

// What the download command gets: parameter block, program and its length.
struct Job {
    std::vector<uint8_t> params;
    std::vector<uint8_t> program;
    uint32_t length = 0;
};

// A sealed downloader (or anything that looks like an executable) goes through the package
// reader; any other file is a copy of PLC memory from 0x8000.
int LoadImage(const std::string& path, const tagProfileTraits& profile, int offset, Job& job) {
    std::wstring wpath = platform::FromUtf8(path);
    platform::ReadOnlyFile file;
    if (!file.Open(wpath)) {
        std::fprintf(stderr, "nerio: %s: cannot be opened (error %d)\n", path.c_str(),
                     platform::LastErrorCode());
        return kExitBadImage;
    }
    std::vector<uint8_t> bytes(file.Length());
    if (file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())) != bytes.size()) {
        std::fprintf(stderr, "nerio: %s: cannot be read (error %d)\n", path.c_str(),
                     platform::LastErrorCode());
        return kExitBadImage;
    }
    file.Close();

    bool sealed = CheckImageFileIntegrity(wpath) == 1;
    bool executable = bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
    if (sealed || executable) {
        CPackageReader reader;
        std::unique_ptr<uint8_t[]> body(reader.ReadFile(wpath, profile));
        if (!sealed || !body || reader.status != PackageStatus::Ok) {
            std::fprintf(stderr, "%s\n", Text(profile, 20021, offset).c_str());
            return kExitDamaged;
        }
        Unscramble(body.get(), reader.pmwsize);
        job.length = PackageProgramLength(profile, body.get());
        job.params.assign(body.get() + kBodyParamOffset,
                          body.get() + kBodyParamOffset + CSerialCommandDownload::kParamBlockBytes);
        job.program.assign(body.get() + kBodyProgramOffset,
                           body.get() + kBodyProgramOffset + job.length);
        return 0;
    }

    const size_t paramBytes = CSerialCommandDownload::kParamBlockBytes;
    if (bytes.size() < paramBytes) {
        std::fprintf(stderr, "nerio: %s: %zu bytes, shorter than the parameter block\n",
                     path.c_str(), bytes.size());
        return kExitBadImage;
    }
    job.length = ProgramLengthForSizeClass(profile, bytes[0]);
    if (bytes.size() < paramBytes + job.length) {
        std::fprintf(stderr, "nerio: %s: size class %u needs %u program bytes, the image has %zu\n",
                     path.c_str(), bytes[0], job.length, bytes.size() - paramBytes);
        return kExitBadImage;
    }
    job.params.assign(bytes.begin(), bytes.begin() + paramBytes);
    job.program.assign(bytes.begin() + paramBytes, bytes.begin() + paramBytes + job.length);
    return 0;
}

const char* RunStateName(int state) {
    return state == CMD_RESULT_PLC_RUNNING ? "RUN" : "STOP";
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!ParseArguments(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const tagProfileTraits& profile = *args.profile;
    UseProfile(profile);
    const int offset = LanguageOffset();
    // The debug log is for a debugger; a shell user sees only the results.
    if (std::getenv("NERIO_DEBUG") == nullptr) platform::SetDebugSink([](const std::wstring&) {});

    Job job;
    if (args.verb == "download") {
        int r = LoadImage(args.image, profile, offset, job);
        if (r != 0) return r;
    }

    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    CSerialCommandPool* pool = CSerialCommandPool::GetInstance();
    if (pool == nullptr) return CMD_RESULT_COMM_ERROR;
    pool->Start();
    Console console(profile, offset);
    pool->m_hNotifyWnd = console.Window();
    SelectPort(args.port);

    std::string infoText;
    console.onResult = [&](CSerialCommandBase* command, int) {
        if (command->IsKindOf(RUNTIME_CLASS(CNerioInfoCommand))) {
            auto* info = static_cast<CNerioInfoCommand*>(command);
            char line[160];
            std::snprintf(line, sizeof line, "model word D8001: %u (model %u, %s expects %d)\n",
                          info->m_wModel, info->m_wModel / 1000u, profile.key,
                          static_cast<int>(profile.model.ModelCode));
            infoText = line;
            if (info->m_nRunState == CMD_RESULT_PLC_RUNNING ||
                info->m_nRunState == CMD_RESULT_PLC_STOPPED) {
                infoText += std::string("run state: ") + RunStateName(info->m_nRunState) + "\n";
                std::snprintf(line, sizeof line, "D8003: %u%s\n", info->m_wD8003,
                              info->m_wD8003 == 10 ? " (write-protected)" : "");
                infoText += line;
            }
        }
    };

    BOOL queued = FALSE;
    if (args.verb == "download") {
        queued = pool->AddDownloadCommand(console.Window(), profile.model, job.program.data(),
                                          job.length, job.params.data(), job.length,
                                          args.verify ? TRUE : FALSE);
    } else if (args.verb == "clear") {
        queued = pool->AddClearMemoryCommand();
    } else {
        auto* info = new CNerioInfoCommand;
        info->m_nState = 1;
        info->m_hNotifyWnd = pool->m_hNotifyWnd;
        queued = pool->AddCommand(info);
        if (!queued) delete info;
    }
    if (!queued) {
        pool->Stop(TRUE);
        return CMD_RESULT_COMM_ERROR;
    }

    CSerialCommandBase* finished = nullptr;
    int result = console.WaitResult(&finished);
    if (result == 0) {
        // Interrupted: the worker is cancelled where it stands, as when the dialog is closed.
        pool->Stop(TRUE);
        console.EndLine();
        return kExitInterrupted;
    }
    pool->Stop(FALSE);

    std::string text;
    if (args.verb == "download") {
        text = result == CMD_RESULT_OK ? Text(profile, 20026, offset)
                                       : Text(profile, 20027, offset) +
                                             platform::ToUtf8(ResultText(profile, result, offset));
    } else if (args.verb == "clear") {
        text = platform::ToUtf8(ResultText(profile, result, offset));
    } else {
        std::fputs(infoText.c_str(), stdout);
        text = platform::ToUtf8(ResultText(profile, result, offset));
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    return result == CMD_RESULT_OK ? 0 : result;
}
