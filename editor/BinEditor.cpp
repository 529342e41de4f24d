// The "Gen. Bin File" page: opens a firmware file into the page's own buffer, finds its
// user-parameter marker, and names a new file.
#include <algorithm>
#include <memory>

#include "app/BuiltInImage.h"
#include "app/DeviceActivity.h"
#include "app/Unit1.h"
#include "image/BinLoader.h"
#include "image/FileFormat.h"
#include "image/HexLoader.h"
#include "image/UserParameterMarker.h"

namespace qv {
namespace {

// Runs the marker search over the editor's buffer; true when the image is editable.
bool SearchMarker(AppState& app) {
  app.MarkerOffset = 0;
  const auto found = FindUserParameterMarker(app.EditBuffer, app.EditLength);
  if (found) app.MarkerOffset = *found;
  return found.has_value();
}

}  // namespace

void TForm1::CurrentFileBitBtnClick(ui::Control&) {
  // Not while an operation holds the device: its dialog would stall that operation until it is
  // closed.
  DeviceActivity activity(app);
  if (!activity) return;
  if (!OpenBinFileDialog->Execute(shell)) return;
  app.EditFilePath = OpenBinFileDialog->FileName();
  // A file that loaded nothing is not reported ready over what the buffer held before.
  if (!ReadModifyFile() || !SearchMarker(app)) {
    // The group and "New File" keep what an earlier file gave them.
    lblStatusReport->SetCaption("Load file is invalid for modify");
    return;
  }
  GroupBox9->SetEnabled(true);
  btnSaveBitBin->SetEnabled(true);
  lblStatusReport->SetCaption("Load file ready");
}

bool TForm1::ReadModifyFile() {
  lblCurrentFilePath->SetCaption(app.EditFilePath);
  // The file is loaded into an image of the page's own, never into the flash image: the file the
  // update panel announces stays the one Start writes. A name whose extension says neither loads
  // nothing, and the buffer keeps what it held; a file the loader refuses leaves it empty.
  const auto image = std::make_unique<FlashImage>();
  switch (FormatOf(app.EditFilePath)) {
    case FileFormat::kBin:
      LoadBinImage(*image, app.EditFilePath);
      break;
    case FileFormat::kHex:
      LoadHexImage(*image, app.EditFilePath);
      break;
    case FileFormat::kUnknown:
      btnCheck->SetEnabled(true);
      return false;
  }
  std::copy_n(image->Data.begin(), image->Length, app.EditBuffer.begin());
  app.EditLength = image->Length;
  btnCheck->SetEnabled(true);
  return true;
}

void TForm1::btnCheckClick(ui::Control&) {
  lblSaveDone->SetCaption("");
  if (SearchMarker(app)) GroupBox9->SetEnabled(true);
}

void TForm1::btnSaveBitBinClick(ui::Control&) {
  // Its dialog would stall an operation under way until it is closed, as "Current File"'s would.
  DeviceActivity activity(app);
  if (!activity) return;
  if (!SaveBinFIleDialog->Execute(shell)) return;
  app.NewFilePath = SaveBinFIleDialog->FileName();
  lblSaveBinPath->SetCaption(app.NewFilePath);
  btnSaveBin->SetEnabled(true);
}

void TForm1::btnSaveBinClick(ui::Control&) {
  // Lengths, marker and controls stay as they are, and no file is written. The built-in block
  // goes into the flash image only while that holds no loaded file: copied over a loaded
  // firmware it would be programmed and verified in the file's name, and leave the device with
  // the block instead of the file. An operation under way has its own copy of the image.
  const auto& block = BuiltInImage();
  if (core.FlashImage.Length == 0)
    std::copy(block.begin(), block.end(), core.FlashImage.Data.begin());
  std::copy(block.begin(), block.end(), app.EditBuffer.begin());
}

}  // namespace qv
