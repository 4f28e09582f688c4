#include "base/working_set.h"

namespace veltora {

void TrimWorkingSet() {}

}  // namespace veltora
