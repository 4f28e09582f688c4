// The names of the long steps as every front end shows them (the command
// line's status line, the backup log window's status strip).
#pragma once

#include "engine/progress.h"

namespace veltora {

const char* ProgressStageName(ProgressStage stage);

}  // namespace veltora
