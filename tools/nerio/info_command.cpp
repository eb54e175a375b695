#include "tools/nerio/info_command.h"

#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "serial/serial_port.h"

IMPLEMENT_DYNAMIC(CNerioInfoCommand, CSerialCommandBase)

namespace {
constexpr uint16_t kModelWord = 0x0E02;
constexpr uint16_t kMemoryTypeWord = 0x0E06;

uint16_t ImageWord(uint16_t address) {
    return static_cast<uint16_t>(PlcRam[address + 1] << 8 | PlcRam[address]);
}
}  // namespace

int CNerioInfoCommand::Execute() {
    if (USB_OpenSP() != 1) return CMD_RESULT_PORT_CLOSED;
    int r = USB_ReadFrameBase(2, kModelWord);
    if (r != CMD_RESULT_OK) return r;
    m_wModel = ImageWord(kModelWord);
    m_nRunState = USB_GetRunState();
    if (m_nRunState != CMD_RESULT_PLC_RUNNING && m_nRunState != CMD_RESULT_PLC_STOPPED) {
        return m_nRunState;
    }
    r = USB_ReadFrame(2, kMemoryTypeWord);
    if (r != CMD_RESULT_OK) return r;
    m_wD8003 = ImageWord(kMemoryTypeWord);
    return CMD_RESULT_OK;
}
