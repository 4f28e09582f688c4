// The words for an errno on POSIX.
#include <string>
#include <system_error>

#include "base/posix_handles.h"

namespace veltora::internal {

std::string ErrorText(int err) { return std::error_code(err, std::generic_category()).message(); }

}  // namespace veltora::internal
