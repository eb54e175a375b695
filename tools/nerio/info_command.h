// The PLC's identity and state, read on the pool's worker like every other PLC exchange.
#pragma once

#include <cstdint>

#include "commands/serial_command.h"

class CNerioInfoCommand : public CSerialCommandBase {
    DECLARE_DYNAMIC(CNerioInfoCommand)

  public:
    int Execute() override;

    uint16_t m_wModel = 0;  // D8001
    int m_nRunState = 0;    // 7 running, 8 stopped, else the failure code
    uint16_t m_wD8003 = 0;  // memory type; 10 = write-protected
};
