// Making a downloader: the downloader image, then the scrambled body, then the sealed trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "profiles/profile.h"

namespace pack {

constexpr uint32_t kHeaderLength = 256;
constexpr uint32_t kParamLength = 92;
constexpr uint8_t kFormatVersion = 1;
// The five free trailer bytes: a tag, the format version and the profile the package was made for.
constexpr char kTrailerTag[3] = {'N', 'R', 'P'};

struct SealedInfo {
    bool sealed = false;  // last two bytes hold the image checksum
    uint16_t storedCrc = 0;
    uint16_t computedCrc = 0;
    uint32_t pmwsize = 0;
    bool bodyFits = false;          // pmwsize <= L - 11
    uint32_t executableLength = 0;  // L - pmwsize - 11 when the body fits
    int sizeClass = -1;             // -1 when the body is too short to hold one
    std::vector<uint8_t> body;      // unscrambled, when it fits
};

// Looks at the tail of an image the way the downloader does.
SealedInfo Inspect(const std::vector<uint8_t>& image);

// Which profile a downloader was built for, from the OriginalFilename of its version block.
const tagProfileTraits* DetectProfile(const std::vector<uint8_t>& image);

// Body (header + program image) scrambled, then pmwsize, the free bytes and the checksum.
std::vector<uint8_t> Seal(const std::vector<uint8_t>& downloader,
                          const std::vector<uint8_t>& program, const tagProfileTraits& profile,
                          const std::string& programName);

// Empty when the program image suits the profile, else the reason to refuse it.
std::string CheckProgram(const std::vector<uint8_t>& program, const tagProfileTraits& profile);

}  // namespace pack
