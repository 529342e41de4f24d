// The bin file editor page.
#include <algorithm>

#include "app/BuiltInImage.h"
#include "app/Unit1.h"

namespace qv {

void TForm1::btnSaveBinClick(ui::Control&) {
  // Lengths, marker and controls stay as they are, and no file is written.
  const auto& block = BuiltInImage();
  std::copy(block.begin(), block.end(), core.FlashImage.Data.begin());
  std::copy(block.begin(), block.end(), app.EditBuffer.begin());
}

}  // namespace qv
