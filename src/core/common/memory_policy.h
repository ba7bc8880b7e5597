#pragma once

namespace orvane {

// Large blocks (pictures, decoder buffers) are taken straight from the system and given back
// when freed, at a fixed size limit. glibc otherwise raises that limit each time such a block
// is freed, after which pictures of channels that close and open again (every reconnect) are
// carved out of the heap and the freed space stays with the process: resident memory climbs
// by steps over the first hours of a run. Called once at start; nothing on other C libraries.
void ReturnLargeBlocksToTheSystem();

}  // namespace orvane
