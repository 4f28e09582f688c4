#include "app/backup_configuration.h"

#include <iterator>

#include "app/messages.h"

namespace veltora {

int CompressionLevelFromName(const std::string& name) {
  for (std::size_t i = 0; i < std::size(app_msg::kCompressionLevelNames); ++i)
    if (name == app_msg::kCompressionLevelNames[i]) return static_cast<int>(i);
  return 3;
}

}  // namespace veltora
