// Frame builders shared by the frame codec and the PLC operations (not part of the interface).
#pragma once

#include <cstdint>

#include "link/plc_link.h"

namespace link_frames {

// A fresh request holding ENQ alone.
tagPlcRequest EnquiryRequest();
// STX, the command letters, ETX and the sum; the reply expected is one ACK byte.
tagPlcRequest AckRequest(const char* command, uint16_t kind);
// Force frame: command letters ("E7", "8", ...) and the force address, low byte first.
tagPlcRequest ForceRequest(const char* command, uint16_t kind, uint16_t forceAddress);

}  // namespace link_frames
