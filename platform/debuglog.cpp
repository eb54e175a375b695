#include "platform/debuglog.h"

#include <cstdint>

#include "platform/platform.h"

namespace {

// Sizes of the formatting buffers; wsprintf itself never writes more than 1024 characters.
constexpr size_t kLogTextChars = 8192;
constexpr size_t kLogLineChars = 1024;
constexpr size_t kPrintChars = 1024;

void AppendPadded(std::wstring& out, const std::wstring& body, size_t width, bool left, wchar_t pad,
                  size_t signLength) {
    if (body.size() >= width) {
        out += body;
    } else if (left) {
        out += body;
        out.append(width - body.size(), L' ');
    } else if (pad == L'0') {
        // Zero padding goes between the sign and the digits.
        out.append(body, 0, signLength);
        out.append(width - body.size(), L'0');
        out.append(body, signLength, std::wstring::npos);
    } else {
        out.append(width - body.size(), L' ');
        out += body;
    }
}

std::wstring Digits(uint64_t value, unsigned base, bool upper) {
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring s;
    do {
        s.insert(s.begin(), set[value % base]);
        value /= base;
    } while (value != 0);
    return s;
}

}  // namespace

std::wstring FormatWide(size_t maxChars, const wchar_t* format, va_list args) {
    std::wstring out;
    if (format == nullptr || maxChars == 0) return out;
    va_list ap;
    va_copy(ap, args);
    for (const wchar_t* p = format; *p != 0; ++p) {
        if (*p != L'%') {
            out += *p;
            continue;
        }
        ++p;
        bool left = false, hash = false;
        wchar_t pad = L' ';
        for (;; ++p) {
            if (*p == L'-') {
                left = true;
            } else if (*p == L'0') {
                pad = L'0';
            } else if (*p == L'#') {
                hash = true;
            } else {
                break;
            }
        }
        size_t width = 0;
        while (*p >= L'0' && *p <= L'9') width = width * 10 + static_cast<size_t>(*p++ - L'0');
        size_t precision = SIZE_MAX;
        if (*p == L'.') {
            ++p;
            precision = 0;
            while (*p >= L'0' && *p <= L'9')
                precision = precision * 10 + static_cast<size_t>(*p++ - L'0');
        }
        bool narrow = false, isLong = false;
        if (*p == L'h') {
            narrow = true;
            ++p;
        } else if (*p == L'l') {
            isLong = true;
            ++p;
        }
        wchar_t conv = *p;
        if (conv == 0) break;
        std::wstring body;
        size_t signLength = 0;
        switch (conv) {
            case L'd':
            case L'i': {
                int32_t v = isLong ? static_cast<int32_t>(va_arg(ap, long)) : va_arg(ap, int);
                if (v < 0) {
                    body =
                        L"-" + Digits(static_cast<uint64_t>(-static_cast<int64_t>(v)), 10, false);
                    signLength = 1;
                } else {
                    body = Digits(static_cast<uint64_t>(v), 10, false);
                }
                break;
            }
            case L'u':
            case L'x':
            case L'X': {
                uint32_t v = isLong ? static_cast<uint32_t>(va_arg(ap, unsigned long))
                                    : va_arg(ap, unsigned int);
                unsigned base = conv == L'u' ? 10 : 16;
                body = Digits(v, base, conv == L'X');
                if (hash && base == 16 && v != 0) {
                    body = (conv == L'X' ? L"0X" : L"0x") + body;
                    signLength = 2;
                }
                break;
            }
            case L'c':
            case L'C':
                body = std::wstring(1, static_cast<wchar_t>(va_arg(ap, int)));
                break;
            case L's':
            case L'S': {
                // %s is wide in a wide format, %S and %hs narrow, %ls wide.
                bool narrowArg = (conv == L'S' && !isLong) || narrow;
                if (narrowArg) {
                    const char* s = va_arg(ap, const char*);
                    body = s ? platform::FromUtf8(s) : L"(null)";
                } else {
                    const wchar_t* s = va_arg(ap, const wchar_t*);
                    body = s ? s : L"(null)";
                }
                if (precision != SIZE_MAX && body.size() > precision) body.resize(precision);
                pad = L' ';
                break;
            }
            case L'%':
                body = L"%";
                break;
            default:
                body = std::wstring(1, conv);
                break;
        }
        AppendPadded(out, body, width, left, pad, signLength);
        if (out.size() >= maxChars - 1) break;
    }
    va_end(ap);
    if (out.size() > maxChars - 1) out.resize(maxChars - 1);
    return out;
}

void DebugLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWide(kLogTextChars, format, args);
    va_end(args);
    std::wstring line = L"[NerioLogic] " + text;
    if (line.size() > kLogLineChars - 1) line.resize(kLogLineChars - 1);
    platform::WriteDebugOutput(line);
}

void DebugPrint(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWide(kPrintChars, format, args);
    va_end(args);
    platform::WriteDebugOutput(text);
    platform::WriteDebugOutput(L"\r\n");
}
