#include <memory>

#include "package/package.h"
#include "platform/platform.h"

uint16_t ImageChecksum(size_t length, const uint8_t* bytes) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

int CheckImageFileIntegrity(const std::wstring& path) {
    if (path.empty()) return 0;
    platform::ReadOnlyFile file;
    if (!file.Open(path)) return 0;
    uint32_t length = file.Length();
    // A file of one or two bytes has no room for a checksum and anything it covers.
    if (length < 2) return 0;
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[length]());
    if (!image) return 0;
    if (file.Read(image.get(), length) != length) return 0;
    uint16_t stored = static_cast<uint16_t>(image[length - 2] << 8 | image[length - 1]);
    return stored == ImageChecksum(length - 2, image.get()) ? 1 : 0;
}

int CheckImageIntegrity() {
    return CheckImageFileIntegrity(platform::ModuleFileName());
}

void Unscramble(uint8_t* buffer, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) buffer[i] ^= kPackageKey;
}
