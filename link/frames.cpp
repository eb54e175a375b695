// The request frames of the programming port: ASCII-hex payload between STX and ETX, then two
// sum digits. Read replies land in PlcRam; write data come from PlcRam.
#include <cstring>

#include "link/frame_build.h"
#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "profiles/active.h"

namespace {

constexpr int kMaxFrameBytes = 64;
constexpr int kMaxSumSpan = 249;  // every frame of this system is shorter

struct FrameWriter {
    tagPlcRequest& r;
    int at = 0;

    void Byte(uint8_t b) { r.Frame[at++] = b; }
    void Text(const char* s) {
        while (*s != '\0') Byte(static_cast<uint8_t>(*s++));
    }
    void Hex8(uint8_t v) {
        Byte(static_cast<uint8_t>(HexDigit(v >> 4)));
        Byte(static_cast<uint8_t>(HexDigit(v & 0x0F)));
    }
    void Hex16(uint16_t v) {
        Hex8(static_cast<uint8_t>(v >> 8));
        Hex8(static_cast<uint8_t>(v & 0xFF));
    }
    // ETX and the sum close the frame and fix the send length.
    void Seal() {
        int etx = at;
        Byte(ETX);
        Hex8(FrameSum(r.Frame, etx));
        r.SendLength = static_cast<uint8_t>(at);
    }
};

tagPlcRequest NewRequest() {
    tagPlcRequest r;
    std::memset(&r, 0, sizeof r);
    return r;
}

bool InProgramSpace(const tagProfileTraits& p, uint16_t address) {
    return address >= p.programSpaceFirst && address <= p.programSpaceLast;
}

// STX, the command (with the space selector in the extended set), address and count.
// The kinds come in pairs: device space, program space; the classic one stands alone.
struct BlockCommand {
    const char* classic;
    uint16_t classicKind;
    const char* device;
    const char* program;
    uint16_t deviceKind;
    uint16_t programKind;
};

constexpr BlockCommand kReadCommand = {"0",   REQ_READ,         "E00",
                                       "E01", REQ_EREAD_DEVICE, REQ_EREAD_PROGRAM};
constexpr BlockCommand kWriteCommand = {"1",   REQ_WRITE,         "E10",
                                        "E11", REQ_EWRITE_DEVICE, REQ_EWRITE_PROGRAM};

int BlockHead(FrameWriter& w, const BlockCommand& c, bool extended, uint16_t address, int count) {
    if (count == 0) return CMD_RESULT_PORT_CLOSED;
    if (count < 0 || count > kMaxFrameBytes) return CMD_RESULT_COMM_ERROR;
    w.Byte(STX);
    if (extended) {
        bool program = InProgramSpace(ActiveProfile(), address);
        w.Text(program ? c.program : c.device);
        w.r.RequestKind = program ? c.programKind : c.deviceKind;
    } else {
        w.Text(c.classic);
        w.r.RequestKind = c.classicKind;
    }
    w.Hex16(address);
    w.Hex8(static_cast<uint8_t>(count));
    return CMD_RESULT_OK;
}

int SendRead(int count, uint16_t address, bool extended) {
    tagPlcRequest r = NewRequest();
    FrameWriter w{r};
    int head = BlockHead(w, kReadCommand, extended, address, count);
    if (head != CMD_RESULT_OK) return head;
    w.Seal();
    r.ExpectedLength = static_cast<uint8_t>(2 * count + 4);
    r.ImageAddress = address;
    return USB_Transact(r);
}

}  // namespace

char HexDigit(int nibble) {
    return "0123456789ABCDEF"[nibble & 0x0F];
}

int HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c == ' ') return 32;
    return 0;
}

uint8_t FrameSum(const uint8_t* frame, int etxIndex) {
    unsigned sum = 0;
    // Backwards from the ETX to the byte after STX.
    for (int i = etxIndex, n = 0; i > 0 && n < kMaxSumSpan; --i, ++n) sum += frame[i];
    return static_cast<uint8_t>(sum);
}

int USB_ReadFrame(int count, uint16_t address) {
    return SendRead(count, address, ActiveProfile().extendedCommands);
}

int USB_ReadFrameBase(int count, uint16_t address) {
    return SendRead(count, address, false);
}

int USB_WriteFrame(uint16_t address, int count) {
    tagPlcRequest r = NewRequest();
    FrameWriter w{r};
    int head = BlockHead(w, kWriteCommand, ActiveProfile().extendedCommands, address, count);
    if (head != CMD_RESULT_OK) return head;
    for (int i = 0; i < count; ++i) w.Hex8(PlcRam[address + i]);
    w.Seal();
    r.ExpectedLength = 1;
    return USB_Transact(r);
}

namespace link_frames {

tagPlcRequest EnquiryRequest() {
    tagPlcRequest r = NewRequest();
    r.Frame[0] = ENQ;
    r.SendLength = 1;
    r.RequestKind = REQ_ENQ;
    r.ExpectedLength = 1;
    return r;
}

tagPlcRequest AckRequest(const char* command, uint16_t kind) {
    tagPlcRequest r = NewRequest();
    FrameWriter w{r};
    w.Byte(STX);
    w.Text(command);
    w.Seal();
    r.RequestKind = kind;
    r.ExpectedLength = 1;
    return r;
}

tagPlcRequest ForceRequest(const char* command, uint16_t kind, uint16_t forceAddress) {
    tagPlcRequest r = NewRequest();
    FrameWriter w{r};
    w.Byte(STX);
    w.Text(command);
    w.Hex8(static_cast<uint8_t>(forceAddress & 0xFF));
    w.Hex8(static_cast<uint8_t>(forceAddress >> 8));
    w.Seal();
    r.RequestKind = kind;
    r.ExpectedLength = 1;
    return r;
}

}  // namespace link_frames
