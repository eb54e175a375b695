// Win32 backend: the COM port opened for overlapped I/O, so that a blocking read or write can
// be ended at once by the calling thread's cancel token (a synchronous ReadFile cannot be
// cancelled under Wine). The COMMTIMEOUTS keep their meaning on an overlapped handle.
#include <windows.h>

#include <string>

#include "platform/cancel.h"
#include "platform/debuglog.h"
#include "serial/serial_port.h"

namespace {

constexpr intptr_t kInvalid = -1;  // INVALID_HANDLE_VALUE
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;
constexpr WORD kXonLimit = 100;
constexpr WORD kXoffLimit = 100;

void LogFailure(const wchar_t* line, DWORD err) {
    DebugLog(line);
    DebugLog(L"Warning: throwing CSerialException for error %d\n", static_cast<int>(err));
}

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

enum class Io { Done, Cancelled, Failed };

// Starts one overlapped ReadFile/WriteFile and waits for it next to the thread's cancel
// token; a cancelled transfer is withdrawn with CancelIoEx before the buffer is released.
template <typename Start>
Io RunOverlapped(HANDLE h, Start start, DWORD* transferred, DWORD* err) {
    *transferred = 0;
    platform::CancelToken* token = platform::ThreadCancelToken();
    if (token != nullptr && token->IsCancelled()) return Io::Cancelled;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) {
        *err = GetLastError();
        return Io::Failed;
    }
    Io result = Io::Done;
    if (!start(&ov)) {
        DWORD e = GetLastError();
        if (e != ERROR_IO_PENDING) {
            *err = e;
            CloseHandle(ov.hEvent);
            return Io::Failed;
        }
        HANDLE objects[2] = {ov.hEvent, nullptr};
        DWORD count = 1;
        if (token != nullptr && token->WaitHandle() != -1) {
            objects[1] = reinterpret_cast<HANDLE>(token->WaitHandle());
            count = 2;
        }
        DWORD w = WaitForMultipleObjects(count, objects, FALSE, INFINITE);
        if (w != WAIT_OBJECT_0) {
            CancelIoEx(h, &ov);
            GetOverlappedResult(h, &ov, transferred, TRUE);
            CloseHandle(ov.hEvent);
            *transferred = 0;
            return Io::Cancelled;
        }
    }
    if (!GetOverlappedResult(h, &ov, transferred, FALSE)) {
        *err = GetLastError();
        result = Io::Failed;
    }
    CloseHandle(ov.hEvent);
    return result;
}

}  // namespace

std::string ComDevicePath(int port) {
    return "\\\\.\\COM" + std::to_string(port);
}

void SetComDevice(int, const std::string&) {
    // Windows names its ports itself; there is nothing to map.
}

CSerialPort::CSerialPort() : m_hComm(kInvalid) {}

CSerialPort::~CSerialPort() {
    Close();
}

int CSerialPort::Open(int port, unsigned baud) {
    std::wstring path = L"\\\\.\\COM" + std::to_wstring(port);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    m_hComm = reinterpret_cast<intptr_t>(h);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        DebugLog(L"Failed to open up the port: COM%d %u\n", port, baud);
        DebugLog(L"Warning: throwing CSerialException for error %d\n", static_cast<int>(err));
        return 0;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) LogFailure(L"Failed in call to GetCommState\n", GetLastError());
    dcb.BaudRate = baud;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.XonLim = kXonLimit;
    dcb.XoffLim = kXoffLimit;
    if (!SetCommState(h, &dcb)) LogFailure(L"Failed in call to SetCommState\n", GetLastError());
    return 1;
}

void CSerialPort::Close() {
    if (m_hComm == kInvalid) return;
    if (!CloseHandle(AsHandle(m_hComm))) {
        DebugLog(L"Failed to close up the comms port, GetLastError:%d\n",
                 static_cast<int>(GetLastError()));
    }
    m_hComm = kInvalid;
}

bool CSerialPort::IsOpen() const {
    return m_hComm != kInvalid;
}

void CSerialPort::SetTimeouts(uint32_t ms) {
    if (!IsOpen()) return;
    m_timeoutMs = ms;
    COMMTIMEOUTS t{ms, ms, ms, ms, ms};
    if (!SetCommTimeouts(AsHandle(m_hComm), &t)) {
        LogFailure(L"Failed in call to SetCommTimeouts\n", GetLastError());
    }
}

void CSerialPort::Write(const void* data, uint32_t count) {
    if (!IsOpen()) return;
    HANDLE h = AsHandle(m_hComm);
    DWORD written = 0, err = 0;
    Io r = RunOverlapped(
        h, [&](OVERLAPPED* ov) { return WriteFile(h, data, count, nullptr, ov); }, &written, &err);
    if (r == Io::Failed) LogFailure(L"Failed in call to WriteFile\n", err);
}

void CSerialPort::Flush() {
    if (!IsOpen()) return;
    if (!FlushFileBuffers(AsHandle(m_hComm))) {
        LogFailure(L"Failed in call to FlushFileBuffers\n", GetLastError());
    }
}

uint32_t CSerialPort::Read(void* buffer, uint32_t count) {
    if (!IsOpen()) return 0;
    HANDLE h = AsHandle(m_hComm);
    DWORD got = 0, err = 0;
    Io r = RunOverlapped(
        h, [&](OVERLAPPED* ov) { return ReadFile(h, buffer, count, nullptr, ov); }, &got, &err);
    if (r == Io::Failed) {
        LogFailure(L"Failed in call to ReadFile\n", err);
        return 0;
    }
    return r == Io::Done ? got : 0;
}

void CSerialPort::PurgeInput() {
    if (!IsOpen()) return;
    if (!PurgeComm(AsHandle(m_hComm), PURGE_RXCLEAR)) {
        LogFailure(L"Failed in call to PurgeComm\n", GetLastError());
    }
}
