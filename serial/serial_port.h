// The one COM port all PLC traffic goes through: 9600 baud, 7 data bits, even parity, one stop
// bit, XON/XOFF. One backend per OS (serial_port_win32.cpp, serial_port_posix.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "platform/cobject.h"

class CSerialPort : public CObject {
    DECLARE_DYNAMIC(CSerialPort)

  public:
    CSerialPort();
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    int Open(int port, unsigned baud);  // 1 opened, 0 failed
    void Close();
    bool IsOpen() const;
    void SetTimeouts(uint32_t ms);  // all five time-out fields
    void Write(const void* data, uint32_t count);
    void Flush();
    uint32_t Read(void* buffer, uint32_t count);  // bytes read; 0 when closed or on failure
    void PurgeInput();                            // discards whatever arrived and was not read yet

  private:
    intptr_t m_hComm;  // the OS handle or descriptor; -1 (invalid) while closed
    uint32_t m_timeoutMs = 0;
};

extern CSerialPort theSerialPort;
extern int32_t SelectedPort;  // -1: no port chosen

// 1 when theSerialPort is open on return (opening SelectedPort at 9600 if needed), else 0.
int USB_OpenSP();

// Where COM<n> lives. Windows: "\\.\COM<n>". POSIX: <dir>/com<n>, as Wine maps its ports, with
// <dir> from NERIO_COM_DIR (default: $HOME/.nerio/dosdevices), unless a device was set for n.
std::string ComDevicePath(int port);
void SetComDevice(int port, const std::string& devicePath);  // "" removes the mapping
