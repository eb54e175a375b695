// What the core needs of the operating system, one backend file per OS (posix/, win32/).
// Paths are wide strings; on POSIX they are converted to UTF-8 at the boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Full path of the running executable, "" when the system cannot tell.
std::wstring ModuleFileName();

// Folder of the running executable without the trailing separator, "" when unknown.
std::wstring ModuleFolder();

// The error code of the last failed system call on this thread (errno / GetLastError).
int LastErrorCode();

// A read-only handle on one file; every call after a failed Open does nothing.
class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool Open(const std::wstring& path);
    bool IsOpen() const;
    uint32_t Length() const;  // low 32 bits of the size
    bool Seek(uint32_t offset);
    uint32_t Read(void* buffer, uint32_t count);  // bytes that arrived
    void Close();

  private:
    intptr_t m_handle = -1;
};

// Creates or truncates a file and writes the bytes in one block; false when any step failed.
bool WriteNewFile(const std::wstring& path, const void* data, size_t count);

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t TickCount();
void SleepMs(uint32_t ms);

// Debugger output: OutputDebugStringW on Windows, stderr elsewhere, or the sink a test installs.
using TextSink = std::function<void(const std::wstring&)>;
void WriteDebugOutput(const std::wstring& text);
void SetDebugSink(TextSink sink);

// The application message box (text, OK); a test or the dialog may install its own handler.
void AppMessageBox(const std::wstring& text);
void SetAppMessageBoxSink(TextSink sink);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace platform
