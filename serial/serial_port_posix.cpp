// POSIX backend: a termios tty (a USB adapter, a serial card or a pseudo-terminal) with the
// Windows COMMTIMEOUTS semantics, waited with poll() next to the thread's cancel token.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/cancel.h"
#include "platform/debuglog.h"
#include "platform/platform.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInvalid = -1;
constexpr cc_t kXonChar = 0x11;
constexpr cc_t kXoffChar = 0x13;
constexpr const char* kDefaultComDir = "/.nerio/dosdevices";
// One character on the line: start bit, 7 data bits, parity and stop bit at 9600 baud.
constexpr uint32_t kCharMicros = 1042;

std::mutex g_devicesMutex;
std::map<int, std::string> g_devices;

void LogFailure(const wchar_t* line, int err) {
    DebugLog(line);
    DebugLog(L"Warning: throwing CSerialException for error %d\n", err);
}

speed_t SpeedFor(unsigned baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        default:
            return B9600;
    }
}

// Milliseconds left until deadline, rounded up so poll() never wakes a little early.
int MsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

enum class Wait { Ready, TimedOut, Cancelled, Failed };

// Waits until fd is ready for events, the deadline passes (max(): no deadline) or the token
// of this thread is cancelled.
Wait WaitFor(int fd, short events, Clock::time_point deadline, int* err) {
    platform::CancelToken* token = platform::ThreadCancelToken();
    for (;;) {
        if (token != nullptr && token->IsCancelled()) return Wait::Cancelled;
        struct pollfd p[2] = {{fd, events, 0}, {-1, POLLIN, 0}};
        nfds_t n = 1;
        if (token != nullptr && token->WaitHandle() >= 0) {
            p[1].fd = static_cast<int>(token->WaitHandle());
            n = 2;
        }
        int timeout = deadline == Clock::time_point::max() ? -1 : MsUntil(deadline);
        int r = poll(p, n, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return Wait::Failed;
        }
        if (n == 2 && p[1].revents != 0) return Wait::Cancelled;
        // A hung-up line stays "ready" for ever; without this the loop would spin.
        bool hungUp = (p[0].revents & POLLHUP) && !(p[0].revents & events);
        if ((p[0].revents & (POLLERR | POLLNVAL)) || hungUp) {
            *err = EIO;
            return Wait::Failed;
        }
        if (p[0].revents != 0) return Wait::Ready;
        if (timeout >= 0 && Clock::now() >= deadline) return Wait::TimedOut;
    }
}

}  // namespace

std::string ComDevicePath(int port) {
    {
        std::lock_guard<std::mutex> lock(g_devicesMutex);
        auto it = g_devices.find(port);
        if (it != g_devices.end()) return it->second;
    }
    std::string dir;
    if (const char* d = std::getenv("NERIO_COM_DIR"); d != nullptr && *d != '\0') {
        dir = d;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home != nullptr ? home : "") + kDefaultComDir;
    }
    return dir + "/com" + std::to_string(port);
}

void SetComDevice(int port, const std::string& devicePath) {
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    if (devicePath.empty()) {
        g_devices.erase(port);
    } else {
        g_devices[port] = devicePath;
    }
}

CSerialPort::CSerialPort() : m_hComm(kInvalid) {}

CSerialPort::~CSerialPort() {
    Close();
}

int CSerialPort::Open(int port, unsigned baud) {
    std::string path = ComDevicePath(port);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    m_hComm = fd;
    if (fd < 0) {
        int err = errno;
        m_hComm = kInvalid;
        DebugLog(L"Failed to open up the port: COM%d %u\n", port, baud);
        DebugLog(L"Warning: throwing CSerialException for error %d\n", err);
        return 0;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) LogFailure(L"Failed in call to GetCommState\n", errno);
    t.c_cflag &= ~(CSIZE | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CS7 | PARENB | CREAD | CLOCAL;
    t.c_iflag &= ~(IXANY | ISTRIP | INPCK | IGNBRK | BRKINT | PARMRK | INLCR | IGNCR | ICRNL);
    t.c_iflag |= IXON | IXOFF;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cc[VSTART] = kXonChar;
    t.c_cc[VSTOP] = kXoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, SpeedFor(baud));
    cfsetospeed(&t, SpeedFor(baud));
    if (tcsetattr(fd, TCSANOW, &t) != 0) LogFailure(L"Failed in call to SetCommState\n", errno);
    return 1;
}

void CSerialPort::Close() {
    if (m_hComm == kInvalid) return;
    if (close(static_cast<int>(m_hComm)) != 0) {
        DebugLog(L"Failed to close up the comms port, GetLastError:%d\n", errno);
    }
    m_hComm = kInvalid;
}

bool CSerialPort::IsOpen() const {
    return m_hComm != kInvalid;
}

void CSerialPort::SetTimeouts(uint32_t ms) {
    if (!IsOpen()) return;
    m_timeoutMs = ms;
}

void CSerialPort::Write(const void* data, uint32_t count) {
    if (!IsOpen()) return;
    int fd = static_cast<int>(m_hComm);
    // Write time-out as on Windows: count x T + T for the whole block, none while T is 0.
    auto deadline =
        m_timeoutMs == 0
            ? Clock::time_point::max()
            : Clock::now() + std::chrono::milliseconds(int64_t{m_timeoutMs} * (count + 1));
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    if (platform::ThreadCancelled()) return;
    while (done < count) {
        ssize_t n = write(fd, p + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            LogFailure(L"Failed in call to WriteFile\n", errno);
            return;
        }
        int err = 0;
        Wait w = WaitFor(fd, POLLOUT, deadline, &err);
        if (w == Wait::Failed) {
            LogFailure(L"Failed in call to WriteFile\n", err);
            return;
        }
        if (w != Wait::Ready) return;
    }
}

void CSerialPort::Flush() {
    if (!IsOpen()) return;
    if (tcdrain(static_cast<int>(m_hComm)) != 0) {
        LogFailure(L"Failed in call to FlushFileBuffers\n", errno);
    }
}

uint32_t CSerialPort::Read(void* buffer, uint32_t count) {
    if (!IsOpen() || count == 0) return 0;
    if (platform::ThreadCancelled()) return 0;
    int fd = static_cast<int>(m_hComm);
    const auto interval = std::chrono::milliseconds(m_timeoutMs);
    // No time-outs set (T = 0) waits for all count bytes, as Windows does.
    const auto total = m_timeoutMs == 0 ? Clock::time_point::max()
                                        : Clock::now() + interval * (int64_t{count} + 1);
    uint8_t* p = static_cast<uint8_t*>(buffer);
    uint32_t got = 0;
    Clock::time_point deadline = total;
    while (got < count) {
        ssize_t n = read(fd, p + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            // After a byte, a pause of T between two bytes ends the read.
            if (m_timeoutMs != 0) deadline = std::min(total, Clock::now() + interval);
            // The rest cannot come faster than the line carries it: wait for it in one go
            // rather than waking once per character (well inside T, so no time-out moves).
            uint32_t restMs = (count - got) * kCharMicros / 1000;
            if (m_timeoutMs != 0) restMs = std::min(restMs, m_timeoutMs / 2);
            if (got < count && restMs > 1 && !platform::SleepCancellable(restMs)) return 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            LogFailure(L"Failed in call to ReadFile\n", errno);
            return 0;
        }
        int err = 0;
        Wait w = WaitFor(fd, POLLIN, deadline, &err);
        if (w == Wait::Cancelled) return 0;
        if (w == Wait::Failed) {
            LogFailure(L"Failed in call to ReadFile\n", err);
            return 0;
        }
        if (w == Wait::TimedOut) break;
    }
    return got;
}

void CSerialPort::PurgeInput() {
    if (!IsOpen()) return;
    if (tcflush(static_cast<int>(m_hComm), TCIFLUSH) != 0) {
        LogFailure(L"Failed in call to PurgeComm\n", errno);
    }
}
