// Win32 backend of the platform layer.
#include "platform/platform.h"
#include "platform/backend.h"

#include <windows.h>

namespace platform {
namespace {

// GetModuleFileNameW is called with the classic path limit, as the image readers expect.
constexpr DWORD kModulePathChars = 260;

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
intptr_t FromHandle(HANDLE h) {
    return reinterpret_cast<intptr_t>(h);
}

}  // namespace

std::wstring ModuleFileName() {
    wchar_t buf[kModulePathChars] = {0};
    DWORD n = GetModuleFileNameW(nullptr, buf, kModulePathChars);
    if (n == 0 || n >= kModulePathChars) return std::wstring();
    return std::wstring(buf, n);
}

std::wstring ModuleFolder() {
    std::wstring path = ModuleFileName();
    size_t cut = path.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

int LastErrorCode() {
    return static_cast<int>(GetLastError());
}

ReadOnlyFile::~ReadOnlyFile() {
    Close();
}

bool ReadOnlyFile::Open(const std::wstring& path) {
    Close();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    m_handle = FromHandle(h);
    return true;
}

bool ReadOnlyFile::IsOpen() const {
    return m_handle != -1;
}

uint32_t ReadOnlyFile::Length() const {
    if (m_handle == -1) return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(AsHandle(m_handle), &high);
    return low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR ? 0 : low;
}

bool ReadOnlyFile::Seek(uint32_t offset) {
    if (m_handle == -1) return false;
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(AsHandle(m_handle), to, nullptr, FILE_BEGIN) != 0;
}

uint32_t ReadOnlyFile::Read(void* buffer, uint32_t count) {
    if (m_handle == -1) return 0;
    uint32_t got = 0;
    while (got < count) {
        DWORD n = 0;
        if (!ReadFile(AsHandle(m_handle), static_cast<char*>(buffer) + got, count - got, &n,
                      nullptr) ||
            n == 0)
            break;
        got += n;
    }
    return got;
}

void ReadOnlyFile::Close() {
    if (m_handle != -1) CloseHandle(AsHandle(m_handle));
    m_handle = -1;
}

bool WriteNewFile(const std::wstring& path, const void* data, size_t count) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, data, static_cast<DWORD>(count), &written, nullptr) && written == count;
    ok = FlushFileBuffers(h) && ok;
    ok = CloseHandle(h) && ok;
    return ok;
}

uint32_t TickCount() {
    return GetTickCount();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

void DefaultDebugOutput(const std::wstring& text) {
    OutputDebugStringW(text.c_str());
}

void DefaultAppMessageBox(const std::wstring& text) {
    MessageBoxW(GetActiveWindow(), text.c_str(), L"", MB_OK);
}

}  // namespace platform
