#include "tests/support/temp_dir.h"

#include <chrono>

namespace testsupport {
// Distinct per process and run; only needs to keep parallel test binaries apart.
long TempDir::Pid() {
    static const long id =
        static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
    return id;
}
}  // namespace testsupport
