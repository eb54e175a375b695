// The clear-memory command: runs the PLC's clear requests, refused on write protection.
#pragma once

#include "commands/serial_command.h"

class CSerialCommandClearMemory : public CSerialCommandBase {
    DECLARE_DYNAMIC(CSerialCommandClearMemory)

  public:
    CSerialCommandClearMemory() = default;
    ~CSerialCommandClearMemory() override = default;
    int Execute() override;

    BOOL m_bStepA = TRUE;  // clear requests 0x61, 0x60
    BOOL m_bStepB = TRUE;  // clear requests 0x63, 0x64
    BOOL m_bStepC = TRUE;  // clear request 0x62
};
