#include <windows.h>

#include "base/working_set.h"

namespace veltora {

// A failure leaves the working set as it was; there is nothing to tell.
void TrimWorkingSet() {
  ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1),
                             static_cast<SIZE_T>(-1));
}

}  // namespace veltora
