// The PLC operations the commands use: block transfers, handshakes, forces, RUN/STOP, checks.
#include <cwctype>

#include "link/frame_build.h"
#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "profiles/active.h"
#include "serial/serial_port.h"

const wchar_t* const RELAY_RUN_MODE = L"M8035";
const wchar_t* const RELAY_RUN_SIGNAL = L"M8036";
const wchar_t* const RELAY_STOP = L"M8037";

namespace {

constexpr int kBlockBytes = 64;
constexpr int kDeviceNameChars = 32;
constexpr uint16_t kModelWordAddress = 0x0E02;
constexpr uint16_t kMemoryTypeAddress = 0x0E06;
constexpr uint16_t kWriteProtected = 10;
constexpr int kModelDivisor = 1000;
constexpr uint16_t kProgramBitForce = 0x0E76;

enum : uint8_t {
    kCodeClearParams = 0x60,
    kCodeClearProgram = 0x61,
    kCodeClearBits = 0x62,
    kCodeClearDataA = 0x63,
    kCodeClearDataB = 0x64,
};

bool PortReady() {
    return theSerialPort.IsOpen() || USB_OpenSP() == 1;
}

template <typename Frame>
int Blocks(uint16_t count, uint16_t address, Frame frame) {
    if (count <= kBlockBytes) return frame(address, count);
    for (int i = 0; i < count / kBlockBytes; ++i) {
        int r = frame(static_cast<uint16_t>(address + kBlockBytes * i), kBlockBytes);
        if (r != CMD_RESULT_OK) return r;
    }
    if (count % kBlockBytes == 0) return CMD_RESULT_OK;
    return frame(static_cast<uint16_t>(address + kBlockBytes * (count / kBlockBytes)),
                 count % kBlockBytes);
}

int Force(const wchar_t* device, bool on) {
    if (device == nullptr || device[0] == L'\0') return CMD_RESULT_PORT_CLOSED;
    const bool extended = ActiveProfile().extendedCommands;
    const char* command = extended ? (on ? "E7" : "E8") : (on ? "7" : "8");
    tagPlcRequest r = link_frames::ForceRequest(command, on ? REQ_FORCE_ON : REQ_FORCE_OFF,
                                                GetForceAddress(device));
    return USB_Transact(r);
}

int Force0E76(bool on) {
    tagPlcRequest r = link_frames::ForceRequest(on ? "E7" : "E8", on ? REQ_FORCE_ON : REQ_FORCE_OFF,
                                                kProgramBitForce);
    return USB_Transact(r);
}

int RunSequence(const tagRelayForce* steps, int length) {
    if (USB_OpenSP() != 1) return CMD_RESULT_PORT_CLOSED;
    int r = CMD_RESULT_OK;
    for (int i = 0; i < length; ++i) {
        r = steps[i].on ? USB_ForceOn(steps[i].device) : USB_ForceOff(steps[i].device);
        if (r != CMD_RESULT_OK) return r;
    }
    return r;
}

int ReadRunByte() {
    const tagProfileTraits& p = ActiveProfile();
    return USB_ReadFrame(p.runStateLength, p.runStateAddress);
}

bool Protected() {
    return USB_ReadD8003() == kWriteProtected;
}

}  // namespace

int USB_ReadPlcRam(uint16_t count, uint16_t address) {
    return Blocks(count, address, [](uint16_t a, int n) { return USB_ReadFrame(n, a); });
}

int USB_WritePlcRam(uint16_t count, uint16_t address) {
    return Blocks(count, address, [](uint16_t a, int n) { return USB_WriteFrame(a, n); });
}

int USB_Enquire() {
    tagPlcRequest r = link_frames::EnquiryRequest();
    return USB_Transact(r);
}

int USB_CommandB() {
    tagPlcRequest r = link_frames::AckRequest("B", REQ_B);
    return USB_Transact(r);
}

int USB_SendCode(uint8_t code) {
    const char digits[3] = {HexDigit(code >> 4), HexDigit(code & 0x0F), '\0'};
    tagPlcRequest r = link_frames::AckRequest(digits, REQ_B);
    return USB_Transact(r);
}

int USB_ForceOn(const wchar_t* device) {
    return Force(device, true);
}

int USB_ForceOff(const wchar_t* device) {
    return Force(device, false);
}

uint16_t GetForceAddress(const wchar_t* device) {
    if (device == nullptr || device[0] == L'\0') return 0;
    // The number after the letter, read once as decimal and once as octal, both in 16 bits.
    uint16_t n = 0, o = 0;
    for (int i = 1; i < kDeviceNameChars && device[i] >= L'0' && device[i] <= L'9'; ++i) {
        n = static_cast<uint16_t>(n * 10 + (device[i] - L'0'));
    }
    for (int i = 1; i < kDeviceNameChars && device[i] >= L'0' && device[i] <= L'7'; ++i) {
        o = static_cast<uint16_t>(o * 8 + (device[i] - L'0'));
    }
    const bool extended = ActiveProfile().extendedCommands;
    auto u16 = [](int v) { return static_cast<uint16_t>(v); };
    switch (device[0]) {
        case L'X':
            return u16(o + (extended ? 0x1200 : 0x400));
        case L'Y':
            return u16(o + (extended ? 0x0C00 : 0x500));
        case L'M':
            if (n >= 8000 && n <= 8255) return u16(extended ? n - 7552 : n - 4160);
            return u16(extended ? n : n + 0x800);
        case L'S':
            return u16(extended ? n / 8 + 0x280 : n);
        case L'T':
            return u16(extended ? n / 8 + 0x200 : n + 0x600);
        case L'C':
            return u16(extended ? n / 8 + 0x1E0 : n + 0xE00);
        case L'D':
            return u16(extended ? n / 8 + 0x4000 : n + 0x1000);
        default:
            return 0;
    }
}

int USB_ForceOn0E76() {
    return Force0E76(true);
}

int USB_ForceOff0E76() {
    return Force0E76(false);
}

int USB_CheckModel(int16_t modelCode) {
    if (!PortReady()) return 0;
    if (USB_ReadFrameBase(2, kModelWordAddress) != CMD_RESULT_OK) return 0;
    unsigned v = PlcRam[kModelWordAddress + 1] * 256u + PlcRam[kModelWordAddress];
    return static_cast<int16_t>(v / kModelDivisor) == modelCode ? 1 : 0;
}

int USB_GetRunState() {
    if (!PortReady()) return CMD_RESULT_PORT_CLOSED;
    int r = ReadRunByte();
    if (r != CMD_RESULT_OK) return r;
    return (PlcRam[ActiveProfile().runStateAddress] & 0x01) ? CMD_RESULT_PLC_RUNNING
                                                            : CMD_RESULT_PLC_STOPPED;
}

uint16_t USB_ReadD8003() {
    if (!PortReady()) return 0;
    if (USB_ReadFrame(2, kMemoryTypeAddress) != CMD_RESULT_OK) return 0;
    return static_cast<uint16_t>(PlcRam[kMemoryTypeAddress + 1] * 256 + PlcRam[kMemoryTypeAddress]);
}

int USB_RunPlc() {
    const tagProfileTraits& p = ActiveProfile();
    return RunSequence(p.runSequence, p.runSequenceLength);
}

int USB_StopPlc() {
    const tagProfileTraits& p = ActiveProfile();
    return RunSequence(p.stopSequence, p.stopSequenceLength);
}

int USB_ClearPlc(BOOL first, BOOL second, BOOL third) {
    if (!PortReady()) return CMD_RESULT_PORT_CLOSED;
    ReadRunByte();  // read as the PLC expects it; the value is not needed
    int r;
    if (first) {
        if (Protected()) return CMD_RESULT_WRITE_PROTECTED;
        if ((r = USB_SendCode(kCodeClearProgram)) != CMD_RESULT_OK) return r;
        if (Protected()) return CMD_RESULT_WRITE_PROTECTED;
        if ((r = USB_SendCode(kCodeClearParams)) != CMD_RESULT_OK) return r;
    }
    if (second) {
        if (Protected()) return CMD_RESULT_WRITE_PROTECTED;
        if ((r = USB_SendCode(kCodeClearDataA)) != CMD_RESULT_OK) return r;
        if (Protected()) return CMD_RESULT_WRITE_PROTECTED;
        if ((r = USB_SendCode(kCodeClearDataB)) != CMD_RESULT_OK) return r;
    }
    if (third) {
        if ((r = USB_SendCode(kCodeClearBits)) != CMD_RESULT_OK) return r;
    }
    return CMD_RESULT_OK;
}
