// One request, three attempts: the only place in the system that retries.
#include <cstring>

#include "link/plc_link.h"
#include "link/plc_ram.h"
#include "platform/cancel.h"
#include "profiles/active.h"
#include "serial/serial_port.h"

namespace {

constexpr int kAttempts = 3;
constexpr uint32_t kRetryPauseMs = 100;

bool IsAckKind(uint16_t kind) {
    switch (kind) {
        case REQ_ENQ:
        case REQ_WRITE:
        case REQ_FORCE_ON:
        case REQ_FORCE_OFF:
        case REQ_B:
        case REQ_EWRITE_DEVICE:
        case REQ_EWRITE_PROGRAM:
            return true;
        default:
            return false;
    }
}

bool IsDataKind(uint16_t kind) {
    return kind == REQ_READ || kind == REQ_EREAD_DEVICE || kind == REQ_EREAD_PROGRAM;
}

}  // namespace

int USB_Transact(tagPlcRequest& request) {
    if (request.SendLength == 0) return CMD_RESULT_COMM_ERROR;
    const tagProfileTraits& p = ActiveProfile();
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (platform::ThreadCancelled()) return CMD_RESULT_TIMEOUT;
        if (!theSerialPort.IsOpen() && USB_OpenSP() != 1) return p.openFailureCode;
        if (!p.timeoutsAfterWrite) theSerialPort.SetTimeouts(p.portTimeoutMs);
        // A late reply to an earlier attempt must not pass for the answer to this one.
        theSerialPort.PurgeInput();
        std::memset(request.Reply, 0, sizeof request.Reply);
        theSerialPort.Write(request.Frame, request.SendLength);
        theSerialPort.Flush();
        if (p.timeoutsAfterWrite) theSerialPort.SetTimeouts(p.portTimeoutMs);
        uint32_t got = theSerialPort.Read(request.Reply, request.ExpectedLength);
        if (got > 0 && USB_CheckReply(request) == 1) return CMD_RESULT_OK;
        if (attempt == kAttempts && !p.pausesAfterLastAttempt) break;
        if (!platform::SleepCancellable(kRetryPauseMs)) return CMD_RESULT_TIMEOUT;
    }
    return CMD_RESULT_TIMEOUT;
}

int USB_CheckReply(tagPlcRequest& request) {
    const int length = request.ExpectedLength;
    if (length == 0) return 0;
    if (IsAckKind(request.RequestKind)) return request.Reply[0] == ACK ? 1 : 0;
    if (!IsDataKind(request.RequestKind) || length < 4) return 0;
    const uint8_t* reply = request.Reply;
    const int etx = length - 3;
    if (reply[0] != STX || reply[etx] != ETX) return 0;
    uint8_t sent =
        static_cast<uint8_t>(HexValue(reply[length - 2]) * 16 + HexValue(reply[length - 1]));
    if (FrameSum(reply, etx) != sent) return 0;
    for (int i = 0; i < (length - 4) / 2; ++i) {
        PlcRam[request.ImageAddress + i] =
            static_cast<uint8_t>(HexValue(reply[1 + 2 * i]) * 16 + HexValue(reply[2 + 2 * i]));
    }
    return 1;
}
