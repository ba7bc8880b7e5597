#include "common/memory_policy.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvane {

void ReturnLargeBlocksToTheSystem() {
#if defined(__GLIBC__)
    // glibc's own starting value, now held: setting it turns the raising off.
    constexpr int kMmapThreshold = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
#endif
}

}  // namespace orvane
