// Background work yields to the thread that handles input and paints.
#pragma once

namespace corvalis {

// Lowers the calling thread's scheduling priority (nice +10 on Linux), so that
// when every core is busy the window's thread is served first. A thread cannot
// raise its priority again without privileges, so this is for threads that
// only ever do background work from then on. Does nothing where unsupported.
void LowerThisThreadsPriority();

}  // namespace corvalis
