// Handing the memory a resident process no longer touches back to the system.
#pragma once

namespace veltora {

// Windows: the process's working set is emptied (SetProcessWorkingSetSize
// with both sizes -1); the pages come back from the system's standby list
// when they are touched again. POSIX has no working set a process can trim
// (the kernel reclaims unused pages itself): nothing is done.
void TrimWorkingSet();

}  // namespace veltora
