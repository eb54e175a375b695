// The deliverable's own profile, fixed when it is built (NERIO_BUILD_PROFILE names it).
#include "profiles/active.h"

const tagProfileTraits& ActiveProfile() {
    return NERIO_BUILD_PROFILE;
}
