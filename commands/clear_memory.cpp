#include "commands/clear_memory.h"

#include "link/plc_link.h"
#include "serial/serial_port.h"

IMPLEMENT_DYNAMIC(CSerialCommandClearMemory, CSerialCommandBase)

int CSerialCommandClearMemory::Execute() {
    if (USB_OpenSP() != 1) return CMD_RESULT_PORT_CLOSED;
    return USB_ClearPlc(m_bStepA, m_bStepB, m_bStepC);
}
