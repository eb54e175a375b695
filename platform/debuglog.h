// The debug log: text for a developer's debugger, never for the operator and never a file.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Formats like wvsprintfW: flags - 0 #, width, precision, h/l size prefixes, and the
// conversions d i u x X c s S %; %s takes a wide string. At most maxChars - 1 characters.
std::wstring FormatWide(size_t maxChars, const wchar_t* format, va_list args);

// "[NerioLogic] " + the formatted text, cut where the system's formatter stops (1023 characters).
void DebugLog(const wchar_t* format, ...);

// The formatted text (1023 characters at most), then "\r\n" as a second write.
void DebugPrint(const wchar_t* format, ...);
