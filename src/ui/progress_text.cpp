#include "ui/progress_text.h"

#include "ui/messages.h"

namespace veltora {

namespace msg = ui_msg;

const char* ProgressStageName(ProgressStage stage) {
  switch (stage) {
    case ProgressStage::kLocalBackup:
      return msg::kStageLocalBackup;
    case ProgressStage::kCompression:
      return msg::kStageCompression;
    case ProgressStage::kArchiveTest:
      return msg::kStageArchiveTest;
    case ProgressStage::kShareCopy:
      return msg::kStageShareCopy;
    case ProgressStage::kShareVerify:
      return msg::kStageShareVerify;
    case ProgressStage::kShareFetch:
      return msg::kStageShareFetch;
    case ProgressStage::kExtraction:
      return msg::kStageExtraction;
  }
  return "";
}

}  // namespace veltora
