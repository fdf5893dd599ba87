#pragma once
// Work that may wait: a thread that only prepares for later gives the cores to everything
// else first.

namespace tw::platform {

// Lowers the calling thread's scheduling priority as far as an ordinary user may (it never
// rises again). Quietly does nothing where the system refuses.
void lowerThisThreadsPriority();

}  // namespace tw::platform
