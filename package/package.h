// The program package appended to the downloader's own image: a scrambled body, the body size
// and a CRC-16 over the whole file in an 11-byte trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "profiles/profile.h"

constexpr uint32_t kTrailerLength = 11;
constexpr uint32_t kTrailerSizeOffset = 11;   // pmwsize lies at L - 11, big-endian
constexpr uint32_t kTrailerFreeLength = 5;    // L - 7 .. L - 3, not read by the downloader
constexpr uint32_t kBodyParamOffset = 256;    // size class and parameter block
constexpr uint32_t kBodyProgramOffset = 348;  // program code, right after the 92-byte block
constexpr uint8_t kPackageKey = 0xA7;

// CRC-16/MODBUS, bit by bit: "123456789" gives 0x4B37, no bytes give 0xFFFF.
uint16_t ImageChecksum(size_t length, const uint8_t* bytes);

// 1 when the file's last two bytes hold, big-endian, the checksum of everything before them.
int CheckImageFileIntegrity(const std::wstring& path);
// The same for the running executable.
int CheckImageIntegrity();

// XOR with the package key, in place; scrambling and unscrambling are the same operation.
void Unscramble(uint8_t* buffer, uint32_t length);

// Program length of an unscrambled body, from its size class at offset 256.
uint32_t PackageProgramLength(const tagProfileTraits& profile, const uint8_t* body);

enum class PackageStatus {
    Ok,         // the buffer holds pmwsize scrambled body bytes
    NoPackage,  // the image could not be read, or pmwsize is 0: nothing to download, nothing to say
    Damaged,    // the trailer or the body does not fit: refused before anything reaches a PLC
};

class CPackageReader {
  public:
    uint32_t pmwsize = 0;
    PackageStatus status = PackageStatus::NoPackage;

    // Reads the body from the running executable; the caller frees the buffer with delete[].
    // Returns null unless status is Ok.
    uint8_t* read(const tagProfileTraits& profile);
    uint8_t* ReadFile(const std::wstring& path, const tagProfileTraits& profile);
};
