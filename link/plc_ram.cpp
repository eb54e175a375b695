// The image of PLC memory and the two diagnostic dumps of a failed verify.
#include "link/plc_ram.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "profiles/active.h"

uint8_t PlcRam[PLC_RAM_SIZE];

namespace {

std::wstring BesideExecutable(const wchar_t* name) {
    return platform::ModuleFolder() +
           static_cast<wchar_t>(std::filesystem::path::preferred_separator) + name;
}

}  // namespace

void SetPlcRam(uint16_t address, int16_t length, const uint8_t* source) {
    int32_t end = static_cast<int32_t>(address) + static_cast<int32_t>(length);
    if (end > static_cast<int32_t>(PLC_RAM_SIZE)) {
        platform::AppMessageBox(ActiveProfile().ramBoundMessage);
        return;
    }
    if (length <= 0 || source == nullptr) return;
    std::memcpy(PlcRam + address, source, static_cast<size_t>(length));
}

bool WritePlcDumpFiles(uint32_t codeBase, const uint8_t* projectProgram, uint32_t count) {
    if (codeBase >= PLC_RAM_SIZE) {
        count = 0;
    } else if (count > PLC_RAM_SIZE - codeBase) {
        count = PLC_RAM_SIZE - codeBase;
    }
    bool plc = platform::WriteNewFile(BesideExecutable(L"RamPlc.xbin"), PlcRam + codeBase, count);
    bool prj = platform::WriteNewFile(BesideExecutable(L"RamPrj.xbin"), projectProgram, count);
    return plc && prj;
}
