#include "tools/nerio-pack/pack.h"

#include <algorithm>
#include <cstring>

#include "package/package.h"

namespace pack {
namespace {

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

bool ContainsUtf16(const std::vector<uint8_t>& image, const char* ascii) {
    std::vector<uint8_t> needle;
    for (const char* p = ascii; *p; ++p) {
        needle.push_back(static_cast<uint8_t>(*p));
        needle.push_back(0);
    }
    return std::search(image.begin(), image.end(), needle.begin(), needle.end()) != image.end();
}

uint8_t ProfileByte(const tagProfileTraits& profile) {
    return static_cast<uint8_t>(static_cast<int>(profile.id) + 1);
}

}  // namespace

SealedInfo Inspect(const std::vector<uint8_t>& image) {
    SealedInfo info;
    const uint32_t length = static_cast<uint32_t>(image.size());
    if (length < kTrailerLength) return info;
    info.storedCrc = static_cast<uint16_t>(image[length - 2] << 8 | image[length - 1]);
    info.computedCrc = ImageChecksum(length - 2, image.data());
    info.sealed = info.storedCrc == info.computedCrc;
    const uint8_t* size = &image[length - kTrailerSizeOffset];
    info.pmwsize = static_cast<uint32_t>(size[0]) << 24 | static_cast<uint32_t>(size[1]) << 16 |
                   static_cast<uint32_t>(size[2]) << 8 | size[3];
    info.bodyFits = info.pmwsize <= length - kTrailerLength;
    if (!info.bodyFits) return info;
    info.executableLength = length - kTrailerLength - info.pmwsize;
    info.body.assign(image.begin() + info.executableLength,
                     image.begin() + info.executableLength + info.pmwsize);
    Unscramble(info.body.data(), static_cast<uint32_t>(info.body.size()));
    if (info.body.size() > kBodyParamOffset) info.sizeClass = info.body[kBodyParamOffset];
    return info;
}

const tagProfileTraits* DetectProfile(const std::vector<uint8_t>& image) {
    const tagProfileTraits* found = nullptr;
    for (const char* key : {"fx1s", "fx1n", "fx2n"}) {
        const tagProfileTraits* p = FindProfile(key);
        if (ContainsUtf16(image, p->identity.internalName)) {
            if (found != nullptr) return nullptr;  // more than one name: cannot tell
            found = p;
        }
    }
    return found;
}

std::string CheckProgram(const std::vector<uint8_t>& program, const tagProfileTraits& profile) {
    if (program.size() < kParamLength) {
        return "shorter than the " + std::to_string(kParamLength) + "-byte parameter block";
    }
    uint32_t needed = kParamLength + ProgramLengthForSizeClass(profile, program[0]);
    if (program.size() < needed) {
        return std::to_string(program.size()) + " bytes, but size class " +
               std::to_string(program[0]) + " needs " + std::to_string(needed) + " bytes for " +
               profile.identity.deliverable;
    }
    return std::string();
}

std::vector<uint8_t> Seal(const std::vector<uint8_t>& downloader,
                          const std::vector<uint8_t>& program, const tagProfileTraits& profile,
                          const std::string& programName) {
    std::vector<uint8_t> body(kHeaderLength, 0);
    std::memcpy(body.data(), "NERIOPKG", 8);
    body[8] = kFormatVersion;
    body[9] = ProfileByte(profile);
    uint32_t programSize = static_cast<uint32_t>(program.size());
    for (int i = 0; i < 4; ++i) body[12 + i] = static_cast<uint8_t>(programSize >> (8 * i));
    std::string name = programName.substr(0, 64);
    std::copy(name.begin(), name.end(), body.begin() + 16);
    body.insert(body.end(), program.begin(), program.end());
    Unscramble(body.data(), static_cast<uint32_t>(body.size()));

    std::vector<uint8_t> out(downloader);
    out.insert(out.end(), body.begin(), body.end());
    PutBigEndian32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), kTrailerTag, kTrailerTag + 3);
    out.push_back(kFormatVersion);
    out.push_back(ProfileByte(profile));
    uint16_t crc = ImageChecksum(out.size(), out.data());
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    return out;
}

}  // namespace pack
