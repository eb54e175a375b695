// Result codes of every PLC operation and command; 1 is success. The text of code n is
// string 20000 + n (Chinese) or 30000 + n (English).
#pragma once

enum : int {
    CMD_RESULT_OK = 1,
    CMD_RESULT_COMM_ERROR = 2,
    CMD_RESULT_TIMEOUT = 3,
    CMD_RESULT_PORT_CLOSED = 4,
    CMD_RESULT_PASSWORD_ERROR = 5,
    CMD_RESULT_COMPARE_FAILED = 6,
    CMD_RESULT_PLC_RUNNING = 7,
    CMD_RESULT_PLC_STOPPED = 8,
    CMD_RESULT_UNKNOWN = 9,
    CMD_RESULT_MODEL_MISMATCH = 10,
    CMD_RESULT_WRITE_PROTECTED = 11,
    CMD_RESULT_CLEAR_FAILED = 12,
};
