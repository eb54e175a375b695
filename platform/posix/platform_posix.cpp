// POSIX backend of the platform layer.
#include "platform/platform.h"
#include "platform/backend.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace platform {
namespace {

std::string NarrowPath(const std::wstring& path) {
    return ToUtf8(path);
}

}  // namespace

std::wstring ModuleFileName() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::wstring();
    buf[n] = '\0';
    return FromUtf8(buf);
}

std::wstring ModuleFolder() {
    std::wstring path = ModuleFileName();
    size_t cut = path.find_last_of(L'/');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

int LastErrorCode() {
    return errno;
}

ReadOnlyFile::~ReadOnlyFile() {
    Close();
}

bool ReadOnlyFile::Open(const std::wstring& path) {
    Close();
    int fd = ::open(NarrowPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    m_handle = fd;
    return true;
}

bool ReadOnlyFile::IsOpen() const {
    return m_handle >= 0;
}

uint32_t ReadOnlyFile::Length() const {
    struct stat st;
    if (m_handle < 0 || fstat(static_cast<int>(m_handle), &st) != 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) & 0xFFFFFFFFu);
}

bool ReadOnlyFile::Seek(uint32_t offset) {
    return m_handle >= 0 && lseek(static_cast<int>(m_handle), offset, SEEK_SET) >= 0;
}

uint32_t ReadOnlyFile::Read(void* buffer, uint32_t count) {
    if (m_handle < 0) return 0;
    uint32_t got = 0;
    while (got < count) {
        ssize_t n =
            ::read(static_cast<int>(m_handle), static_cast<char*>(buffer) + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<uint32_t>(n);
    }
    return got;
}

void ReadOnlyFile::Close() {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool WriteNewFile(const std::wstring& path, const void* data, size_t count) {
    int fd = ::open(NarrowPath(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < count) {
        ssize_t n = ::write(fd, static_cast<const char*>(data) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ok = (fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

uint32_t TickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void DefaultDebugOutput(const std::wstring& text) {
    std::string utf8 = ToUtf8(text);
    fwrite(utf8.data(), 1, utf8.size(), stderr);
}

void DefaultAppMessageBox(const std::wstring& text) {
    std::string utf8 = ToUtf8(text);
    fprintf(stderr, "%s\n", utf8.c_str());
}

}  // namespace platform
