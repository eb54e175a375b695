// Stand-in for the dialog program: runs the integrity gate and the package reader on its own
// image and reports what it found. Exit 0 when the image is sealed and its package readable.
#include <cstdio>

#include "package/package.h"
#include "platform/platform.h"
#include "profiles/active.h"

int wmain() {
    const tagProfileTraits& profile = ActiveProfile();
    int gate = CheckImageIntegrity();
    std::printf("%s: integrity %s\n", profile.identity.deliverable, gate ? "OK" : "FAILED");
    if (!gate) return 1;
    CPackageReader reader;
    uint8_t* body = reader.read(profile);
    if (body == nullptr) {
        std::printf("%s: %s\n", profile.identity.deliverable,
                    reader.status == PackageStatus::Damaged ? "package damaged" : "no package");
        return 1;
    }
    Unscramble(body, reader.pmwsize);
    std::printf("%s: package of %u bytes, size class %u, program %u bytes\n",
                profile.identity.deliverable, reader.pmwsize, body[kBodyParamOffset],
                PackageProgramLength(profile, body));
    delete[] body;
    return 0;
}
