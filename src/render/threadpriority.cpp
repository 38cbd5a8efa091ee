#include "threadpriority.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace corvalis {

namespace {

constexpr int kBackgroundNiceness = 10;

}  // namespace

void LowerThisThreadsPriority() {
#if defined(__linux__)
    // On Linux a nice value belongs to the thread named by its id.
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (current < kBackgroundNiceness)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackgroundNiceness);
#endif
}

}  // namespace corvalis
