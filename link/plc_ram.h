// The process-wide image of PLC memory through which every read and write frame passes.
#pragma once

#include <cstdint>

constexpr uint32_t PLC_RAM_SIZE = 0x100000;

extern uint8_t PlcRam[PLC_RAM_SIZE];

// Copies length bytes into PlcRam at address unless address + length passes the image's end,
// which shows the profile's bound message instead.
void SetPlcRam(uint16_t address, int16_t length, const uint8_t* source);

// "RamPlc.xbin" (count bytes of PlcRam from the code base) and "RamPrj.xbin" (the project's
// program) in the executable's folder, created or truncated; false when either failed.
bool WritePlcDumpFiles(uint32_t codeBase, const uint8_t* projectProgram, uint32_t count);
