// Tools and tests serve every profile: they pick one before any PLC traffic starts.
#include <atomic>

#include "profiles/active.h"

namespace {
std::atomic<const tagProfileTraits*> g_active{&kProfileFX2N};
}

const tagProfileTraits& ActiveProfile() {
    return *g_active.load();
}

void UseProfile(const tagProfileTraits& profile) {
    g_active.store(&profile);
}
