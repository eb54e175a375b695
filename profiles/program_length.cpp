#include "profiles/profile.h"

uint32_t ProgramLengthForSizeClass(const tagProfileTraits& profile, uint8_t sizeClass) {
    int32_t length = static_cast<int32_t>(sizeClass) * 2000;
    int32_t limit = static_cast<int32_t>(profile.programLengthLimit);
    return static_cast<uint32_t>(length >= limit ? limit : length);
}
