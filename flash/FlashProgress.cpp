#include "flash/FlashProgress.h"

namespace qv {

const char* FlashStepName(FlashStep step) {
  switch (step) {
    case FlashStep::kProbe:
      return "probe";
    case FlashStep::kIspEnter:
      return "isp-enter";
    case FlashStep::kClearStatus:
      return "clear-status";
    case FlashStep::kErase:
      return "erase";
    case FlashStep::kBlankCheck:
      return "blank-check";
    case FlashStep::kProgram:
      return "program";
    case FlashStep::kVerify:
      return "verify";
    case FlashStep::kReadBack:
      return "read-back";
    case FlashStep::kBackup:
      return "backup";
    case FlashStep::kRetry:
      return "retry";
    case FlashStep::kResult:
      return "result";
  }
  return "result";
}

}  // namespace qv
