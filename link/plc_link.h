// Frames, the transaction and the PLC operations of the programming-port protocol.
// Every operation runs on the command worker, one at a time, and returns a result code.
#pragma once

#include <cstdint>

#include "link/result_codes.h"
#include "platform/wintypes.h"

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t ENQ = 0x05;
constexpr uint8_t ACK = 0x06;

// Request kinds: how the reply is judged.
enum : uint16_t {
    REQ_ENQ = 0x0005,
    REQ_READ = 0x0030,
    REQ_WRITE = 0x0031,
    REQ_FORCE_ON = 0x0037,
    REQ_FORCE_OFF = 0x0038,
    REQ_B = 0x0042,
    REQ_EREAD_DEVICE = 0x0E00,
    REQ_EREAD_PROGRAM = 0x0E01,
    REQ_EWRITE_DEVICE = 0x0E10,
    REQ_EWRITE_PROGRAM = 0x0E11,
};

struct tagPlcRequest {
    uint8_t SendLength;  // 0: nothing to send
    uint8_t Frame[511];
    uint8_t Reply[512];
    uint16_t RequestKind;
    uint8_t ExpectedLength;
    uint16_t ImageAddress;  // where the data of a read reply are stored in PlcRam
};

char HexDigit(int nibble);
int HexValue(int c);
// Low 8 bits of the sum of the bytes after STX up to and including the ETX at frame[etxIndex].
uint8_t FrameSum(const uint8_t* frame, int etxIndex);

int USB_Transact(tagPlcRequest& request);
int USB_CheckReply(tagPlcRequest& request);

int USB_ReadFrame(int count, uint16_t address);
int USB_ReadFrameBase(int count, uint16_t address);
int USB_WriteFrame(uint16_t address, int count);

int USB_ReadPlcRam(uint16_t count, uint16_t address);
int USB_WritePlcRam(uint16_t count, uint16_t address);
int USB_Enquire();
int USB_CommandB();
int USB_SendCode(uint8_t code);
int USB_ForceOn(const wchar_t* device);
int USB_ForceOff(const wchar_t* device);
uint16_t GetForceAddress(const wchar_t* device);
int USB_ForceOn0E76();
int USB_ForceOff0E76();
int USB_CheckModel(int16_t modelCode);
int USB_GetRunState();
uint16_t USB_ReadD8003();
int USB_RunPlc();
int USB_StopPlc();
int USB_ClearPlc(BOOL first, BOOL second, BOOL third);

extern const wchar_t* const RELAY_RUN_MODE;    // "M8035"
extern const wchar_t* const RELAY_RUN_SIGNAL;  // "M8036"
extern const wchar_t* const RELAY_STOP;        // "M8037"
