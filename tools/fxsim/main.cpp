// fxsim: runs a simulated PLC on a pty (or a serial device) until SIGTERM or SIGINT.
#include "tools/fxsim/fxsim.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: fxsim --profile fx1s|fx1n|fx2n (--link PATH | --device DEV) [--model N]\n"
    "             [--d8003 N] [--running] [--load FILE] [--pace] [--turnaround MS]\n"
    "             [--transcript FILE] [--dump FILE] [--control PATH] [--fault FAULT]...\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "fxsim: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool ToInt(const char* s, int* out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (errno != 0 || *end != '\0' || end == s || v < -2147483647L || v > 2147483647L) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    fxsim::Options opt;
    bool haveProfile = false;
    std::string link, device, transcript, dump, control, load;
    std::vector<std::string> faults;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char** v) {
            if (i + 1 >= argc) return false;
            *v = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (a == "--running") {
            opt.running = true;
        } else if (a == "--pace") {
            opt.pace = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!value(&v)) {
            return Usage(a.rfind("--", 0) == 0 ? "missing value for " + a
                                               : "unknown argument " + a);
        } else if (a == "--profile") {
            if (!fxsim::ParseProfile(v, &opt.profile))
                return Usage("bad profile " + std::string(v));
            haveProfile = true;
        } else if (a == "--link") {
            link = v;
        } else if (a == "--device") {
            device = v;
        } else if (a == "--model") {
            if (!ToInt(v, &opt.model) || opt.model < 0 || opt.model > 65535)
                return Usage("bad --model");
        } else if (a == "--d8003") {
            if (!ToInt(v, &opt.d8003) || opt.d8003 < 0 || opt.d8003 > 65535)
                return Usage("bad --d8003");
        } else if (a == "--turnaround") {
            if (!ToInt(v, &opt.turnaroundMs) || opt.turnaroundMs < 0)
                return Usage("bad --turnaround");
        } else if (a == "--load") {
            load = v;
        } else if (a == "--transcript") {
            transcript = v;
        } else if (a == "--dump") {
            dump = v;
        } else if (a == "--control") {
            control = v;
        } else if (a == "--fault") {
            faults.push_back(v);
        } else {
            return Usage("unknown argument " + a);
        }
    }
    if (!haveProfile) return Usage("--profile is required");
    if (link.empty() == device.empty()) return Usage("give exactly one of --link and --device");
    if (!load.empty()) {
        std::ifstream in(load, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "fxsim: cannot read %s: %s\n", load.c_str(), std::strerror(errno));
            return 1;
        }
        opt.load.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Signals are taken by sigwait below; block them before any thread starts.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    fxsim::Simulator sim(opt);
    for (const std::string& f : faults) {
        std::string r = sim.Control("fault " + f);
        if (r != "ok") return Usage("--fault " + f + ": " + r);
    }
    if (!transcript.empty()) {
        int err = 0;
        if (!sim.StreamTranscript(transcript, &err)) {
            std::fprintf(stderr, "fxsim: cannot write %s: %s\n", transcript.c_str(),
                         std::strerror(err));
            return 1;
        }
    }
    std::unique_ptr<fxsim::PtyServer> pty;
    std::unique_ptr<fxsim::DeviceServer> dev;
    if (!link.empty()) {
        pty.reset(new fxsim::PtyServer(sim, link));
        if (!pty->Ok()) {
            std::fprintf(stderr, "fxsim: %s\n", pty->Error().c_str());
            return 1;
        }
        std::fprintf(stderr, "fxsim: %s on %s -> %s\n", fxsim::ProfileName(opt.profile),
                     link.c_str(), pty->SlavePath().c_str());
    } else {
        dev.reset(new fxsim::DeviceServer(sim, device));
        if (!dev->Ok()) {
            std::fprintf(stderr, "fxsim: %s\n", dev->Error().c_str());
            return 1;
        }
        std::fprintf(stderr, "fxsim: %s on %s\n", fxsim::ProfileName(opt.profile), device.c_str());
    }
    std::unique_ptr<fxsim::ControlServer> ctl;
    if (!control.empty()) {
        ctl.reset(new fxsim::ControlServer(sim, control));
        if (!ctl->Ok()) {
            std::fprintf(stderr, "fxsim: control: %s\n", ctl->Error().c_str());
            return 1;
        }
        std::fprintf(stderr, "fxsim: control on %s -> %s\n", control.c_str(),
                     ctl->SlavePath().c_str());
    }

    int sig = 0;
    sigwait(&sigs, &sig);
    ctl.reset();
    pty.reset();
    dev.reset();

    int rc = 0;
    if (!dump.empty()) {
        std::vector<uint8_t> area = sim.ProgramArea();
        FILE* f = std::fopen(dump.c_str(), "wb");
        if (!f || std::fwrite(area.data(), 1, area.size(), f) != area.size()) {
            std::fprintf(stderr, "fxsim: cannot write %s: %s\n", dump.c_str(),
                         std::strerror(errno));
            rc = 1;
        }
        if (f) std::fclose(f);
    }
    std::printf("%s\n", sim.Summary().c_str());
    return rc;
}
