#include <new>

#include "package/package.h"
#include "platform/debuglog.h"
#include "platform/platform.h"

uint32_t PackageProgramLength(const tagProfileTraits& profile, const uint8_t* body) {
    return ProgramLengthForSizeClass(profile, body[kBodyParamOffset]);
}

uint8_t* CPackageReader::read(const tagProfileTraits& profile) {
    return ReadFile(platform::ModuleFileName(), profile);
}

uint8_t* CPackageReader::ReadFile(const std::wstring& path, const tagProfileTraits& profile) {
    pmwsize = 0;
    status = PackageStatus::NoPackage;
    if (path.empty()) return nullptr;
    platform::ReadOnlyFile file;
    if (!file.Open(path)) return nullptr;
    uint32_t length = file.Length();
    if (length == 0) return nullptr;
    uint8_t size[4] = {0, 0, 0, 0};
    if (length < kTrailerLength || !file.Seek(length - kTrailerSizeOffset) ||
        file.Read(size, 4) != 4) {
        status = PackageStatus::Damaged;
        return nullptr;
    }
    pmwsize = static_cast<uint32_t>(size[0]) << 24 | static_cast<uint32_t>(size[1]) << 16 |
              static_cast<uint32_t>(size[2]) << 8 | size[3];
    if (pmwsize == 0) return nullptr;
    DebugPrint(L"[DOWNLOAD] pmwsize = %d.", static_cast<int>(pmwsize));

    // A trailer that claims more body than the file holds would read before its start.
    if (pmwsize > length - kTrailerLength) {
        status = PackageStatus::Damaged;
        pmwsize = 0;
        return nullptr;
    }
    uint8_t* body = new (std::nothrow) uint8_t[pmwsize]();
    if (body == nullptr) {
        pmwsize = 0;
        return nullptr;
    }
    if (!file.Seek(length - pmwsize - kTrailerLength) || file.Read(body, pmwsize) != pmwsize) {
        delete[] body;
        status = PackageStatus::Damaged;
        pmwsize = 0;
        return nullptr;
    }
    // The download copies the parameter block and the whole program from fixed offsets:
    // a body too short for its own size class would send bytes from beyond the buffer.
    bool fits =
        pmwsize > kBodyParamOffset &&
        pmwsize >= kBodyProgramOffset +
                       ProgramLengthForSizeClass(
                           profile, static_cast<uint8_t>(body[kBodyParamOffset] ^ kPackageKey));
    if (!fits) {
        delete[] body;
        status = PackageStatus::Damaged;
        pmwsize = 0;
        return nullptr;
    }
    status = PackageStatus::Ok;
    return body;
}
