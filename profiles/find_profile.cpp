#include <cstring>

#include "profiles/profile.h"

const tagProfileTraits* FindProfile(const char* key) {
    const tagProfileTraits* all[] = {&kProfileFX1S, &kProfileFX1N, &kProfileFX2N};
    for (const tagProfileTraits* p : all) {
        if (key != nullptr && std::strcmp(p->key, key) == 0) return p;
    }
    return nullptr;
}
