// The line side: a pseudo-terminal (or a serial device) served on its own thread.
#include "tools/fxsim/fxsim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace fxsim {

namespace {

// Wait after a hang-up or error on the line before looking again, so a vanished device
// does not make the thread spin.
constexpr auto kErrorBackoff = std::chrono::milliseconds(100);
// How long a control reply may wait for a reader that does not drain the pty.
constexpr int kControlWriteTimeoutMs = 2000;

std::string OsError(const std::string& what, int err) {
    return what + ": " + std::strerror(err) + " (errno " + std::to_string(err) + ")";
}

// Raw bytes both ways: no echo, no line editing, no ISTRIP, no CR/LF mapping, no flow control.
void MakeRaw(int fd, bool line7e1) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | ISTRIP | INPCK);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cflag &= ~CRTSCTS;
    if (line7e1) {
        t.c_cflag &= ~(CSIZE | CSTOPB | PARODD);
        t.c_cflag |= CS7 | PARENB;
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
}

void SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

// A pty pair: the master we serve and a slave we keep open ourselves, so that the master
// does not report hang-up while no client has the slave open.
struct Pty {
    int master = -1;
    int slaveHold = -1;
    std::string slavePath;
    std::string link;
    std::string error;

    bool Open(const std::string& linkPath) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0) return Fail("posix_openpt");
        if (grantpt(master) != 0) return Fail("grantpt");
        if (unlockpt(master) != 0) return Fail("unlockpt");
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0) return Fail("ptsname_r");
        slavePath = name;
        slaveHold = open(name, O_RDWR | O_NOCTTY);
        if (slaveHold < 0) return Fail("open " + slavePath);
        MakeRaw(master, false);
        MakeRaw(slaveHold, false);
        SetNonBlocking(master);
        if (!linkPath.empty()) {
            struct stat st {};
            if (lstat(linkPath.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    error = linkPath + " exists and is not a symlink";
                    return false;
                }
                if (unlink(linkPath.c_str()) != 0) return Fail("unlink " + linkPath);
            }
            if (symlink(slavePath.c_str(), linkPath.c_str()) != 0)
                return Fail("symlink " + linkPath);
            link = linkPath;
        }
        return true;
    }

    bool Fail(const std::string& what) {
        error = OsError(what, errno);
        return false;
    }

    void Close() {
        if (!link.empty()) {
            // Only remove the link while it still points at our slave.
            char target[256];
            ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n >= 0) {
                target[n] = '\0';
                if (slavePath == target) unlink(link.c_str());
            }
            link.clear();
        }
        if (slaveHold >= 0) close(slaveHold);
        if (master >= 0) close(master);
        slaveHold = master = -1;
    }
};

// Self-pipe that wakes a serving thread for shutdown.
struct Waker {
    int fds[2] = {-1, -1};
    bool Open() { return pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0; }
    void Wake() {
        char c = 1;
        ssize_t r = write(fds[1], &c, 1);
        (void)r;
    }
    void Drain() {
        char buf[16];
        while (read(fds[0], buf, sizeof buf) > 0) {
        }
    }
    void Close() {
        for (int& fd : fds) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }
};

timespec ToTimespec(Clock::duration d) {
    if (d < Clock::duration::zero()) d = Clock::duration::zero();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

// A thread serving one fd, with the means to stop it.
struct Runner {
    Waker waker;
    std::atomic<bool> stop{false};
    std::atomic<int> lastErrno{0};  // the last failing call on the line, for Error()
    std::thread thread;

    template <class F>
    bool Start(F f) {
        if (!waker.Open()) return false;
        thread = std::thread(f);
        return true;
    }
    void Stop() {
        stop = true;
        waker.Wake();
        if (thread.joinable()) thread.join();
        waker.Close();
    }
    std::string Error(const std::string& setup) const {
        if (!setup.empty()) return setup;
        int e = lastErrno;
        return e ? OsError("line", e) : std::string();
    }
};

// Serves the simulator on fd until stop is set: input at arrival time, replies when due,
// paced byte by byte on an absolute schedule when the simulator paces.
void ServeLine(Simulator& sim, int fd, Runner& run) {
    Waker& waker = run.waker;
    std::vector<uint8_t> tx;
    size_t txPos = 0;
    Clock::time_point txStart{};
    bool txBusy = false;
    Clock::time_point lineFree{};  // paced: when the last character sent is off the line
    uint8_t buf[4096];
    while (!run.stop) {
        Clock::time_point now = Clock::now();
        sim.Advance(now);
        bool paced = sim.Paced();
        if (!txBusy && now >= lineFree) {
            Outgoing o;
            while (sim.TakeDue(now, &o)) {
                sim.NoteSent(o, now);
                if (!o.bytes.empty()) {
                    tx = std::move(o.bytes);
                    txPos = 0;
                    txStart = now;
                    txBusy = true;
                    break;
                }
            }
        }
        bool wantOut = false;
        if (txBusy) {
            while (txPos < tx.size()) {
                size_t n = tx.size() - txPos;
                if (paced) {
                    if (txStart + kCharTime * static_cast<int64_t>(txPos) > now) break;
                    n = 1;
                }
                ssize_t w = write(fd, tx.data() + txPos, n);
                if (w < 0) {
                    if (errno == EAGAIN || errno == EINTR)
                        wantOut = true;
                    else
                        txPos = tx.size();  // the line is gone; this reply is lost
                    break;
                }
                txPos += static_cast<size_t>(w);
            }
            if (txPos >= tx.size()) {
                txBusy = false;
                if (paced) lineFree = txStart + kCharTime * static_cast<int64_t>(tx.size());
                continue;
            }
        }
        Clock::time_point wake;
        if (txBusy && !wantOut) {
            wake = txStart + kCharTime * static_cast<int64_t>(txPos);
        } else if (txBusy) {
            wake = Clock::time_point::max();
        } else {
            wake = sim.NextWake();
            if (now < lineFree && wake <= now) wake = lineFree;  // a reply waits for the line
        }
        pollfd p[2] = {{fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0},
                       {waker.fds[0], POLLIN, 0}};
        timespec ts;
        timespec* tsp = nullptr;
        if (wake != Clock::time_point::max()) {
            ts = ToTimespec(wake - Clock::now());
            tsp = &ts;
        }
        if (ppoll(p, 2, tsp, nullptr) < 0) {
            if (errno != EINTR) run.lastErrno = errno;
            continue;
        }
        if (p[1].revents) waker.Drain();
        if (p[0].revents & POLLIN) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                sim.Receive(buf, static_cast<size_t>(n), Clock::now());
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                run.lastErrno = errno;
            }
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            std::this_thread::sleep_for(kErrorBackoff);
        }
    }
}

bool WriteAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t w = write(fd, s.data() + off, s.size() - off);
        if (w > 0) {
            off += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        int r = poll(&p, 1, kControlWriteTimeoutMs);
        if (r == 0) errno = ETIMEDOUT;
        if (r <= 0) return false;
    }
    return true;
}

void ServeControl(Simulator& sim, int fd, Runner& run) {
    Waker& waker = run.waker;
    std::string pending;
    char buf[1024];
    while (!run.stop) {
        pollfd p[2] = {{fd, POLLIN, 0}, {waker.fds[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno != EINTR) run.lastErrno = errno;
            continue;
        }
        if (p[1].revents) waker.Drain();
        if (run.stop) break;
        if (p[0].revents & POLLIN) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) continue;
            pending.append(buf, static_cast<size_t>(n));
            size_t eol;
            while ((eol = pending.find_first_of("\r\n")) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (line.find_first_not_of(" \t") == std::string::npos) continue;
                if (!WriteAll(fd, sim.Control(line) + "\n.\n")) run.lastErrno = errno;
            }
        } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            std::this_thread::sleep_for(kErrorBackoff);
        }
    }
}

}  // namespace

struct PtyServer::Impl {
    Pty pty;
    Runner runner;
    bool ok = false;
};

PtyServer::PtyServer(Simulator& sim, const std::string& linkPath) : impl_(new Impl) {
    Impl& s = *impl_;
    if (!s.pty.Open(linkPath)) return;
    if (!s.runner.Start([&sim, &s] { ServeLine(sim, s.pty.master, s.runner); })) {
        s.pty.Fail("pipe2");
        return;
    }
    s.ok = true;
}

PtyServer::~PtyServer() {
    impl_->runner.Stop();
    impl_->pty.Close();
}

std::string PtyServer::SlavePath() const {
    return impl_->pty.slavePath;
}
bool PtyServer::Ok() const {
    return impl_->ok;
}
std::string PtyServer::Error() const {
    return impl_->pty.error;
}

struct ControlServer::Impl {
    Pty pty;
    Runner runner;
    bool ok = false;
};

ControlServer::ControlServer(Simulator& sim, const std::string& linkPath) : impl_(new Impl) {
    Impl& s = *impl_;
    if (!s.pty.Open(linkPath)) return;
    if (!s.runner.Start([&sim, &s] { ServeControl(sim, s.pty.master, s.runner); })) {
        s.pty.Fail("pipe2");
        return;
    }
    s.ok = true;
}

ControlServer::~ControlServer() {
    impl_->runner.Stop();
    impl_->pty.Close();
}

std::string ControlServer::SlavePath() const {
    return impl_->pty.slavePath;
}
bool ControlServer::Ok() const {
    return impl_->ok;
}
std::string ControlServer::Error() const {
    return impl_->pty.error;
}

struct DeviceServer::Impl {
    int fd = -1;
    Runner runner;
    bool ok = false;
    std::string error;
};

DeviceServer::DeviceServer(Simulator& sim, const std::string& device) : impl_(new Impl) {
    Impl& s = *impl_;
    s.fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (s.fd < 0) {
        s.error = OsError("open " + device, errno);
        return;
    }
    MakeRaw(s.fd, true);
    if (!s.runner.Start([&sim, &s] { ServeLine(sim, s.fd, s.runner); })) {
        s.error = OsError("pipe2", errno);
        return;
    }
    s.ok = true;
}

DeviceServer::~DeviceServer() {
    impl_->runner.Stop();
    if (impl_->fd >= 0) close(impl_->fd);
}

bool DeviceServer::Ok() const {
    return impl_->ok;
}
std::string DeviceServer::Error() const {
    return impl_->error;
}

}  // namespace fxsim
