// The profile the running program was built for (deliverables), or chose (tools and tests).
#pragma once

#include "profiles/profile.h"

const tagProfileTraits& ActiveProfile();

// Only in the switchable variant that tools and tests link; a deliverable has no such call.
void UseProfile(const tagProfileTraits& profile);
