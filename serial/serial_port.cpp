// The process-wide port and its lazy opening; the OS calls live in the backend files.
#include "serial/serial_port.h"

#include "platform/platform.h"

IMPLEMENT_DYNAMIC(CSerialPort, CObject)

CSerialPort theSerialPort;
int32_t SelectedPort = -1;

namespace {
constexpr unsigned kLineBaud = 9600;
constexpr uint32_t kHighestPort = 254;
}  // namespace

int USB_OpenSP() {
    if (theSerialPort.IsOpen()) return 1;
    // Taken unsigned, so -1 (nothing chosen) and every negative number are refused too.
    if (static_cast<uint32_t>(SelectedPort) > kHighestPort) return 0;
    try {
        return theSerialPort.Open(SelectedPort, kLineBaud);
    } catch (...) {
        platform::WriteDebugOutput(L"USB_OpenSP failed.");
        return 0;
    }
}
