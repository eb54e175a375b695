// Messages the command worker sends to the main window (WM_USER + 5000 and up).
#pragma once

#include <cstdint>

constexpr uint32_t WM_SERIAL_POOL = 0x1788;        // wParam: finished command, lParam: result code
constexpr uint32_t WM_DOWNLOAD_PARAMS = 0x1789;    // before the parameter block
constexpr uint32_t WM_PROGRESS_RANGE = 0x178A;     // lParam: program bytes to transfer
constexpr uint32_t WM_DOWNLOAD_PROGRESS = 0x178B;  // wParam: bytes written, lParam: total
constexpr uint32_t WM_VERIFY_PROGRESS = 0x178E;    // wParam: bytes read back, lParam: total
