// The few Windows-style base types the core speaks in. On Windows they come from the
// system headers; elsewhere they are defined with the same sizes.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>
typedef int BOOL;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#endif
