// Which firmware file goes into the flash image: the found model's file from the working
// directory (update panel), or the path named on the ISP page (its Auto sequence).

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "app/DeviceModels.h"
#include "app/Unit1.h"
#include "image/BinLoader.h"
#include "image/FileFormat.h"
#include "image/HexLoader.h"
#include "util/Text.h"

namespace qv {

namespace {

// A loaded image is only an update when it holds something to program. A refused file, or one
// that holds no data, gets a text that names the file and what is wrong with it.
bool IsProgrammable(LoadResult& result, const FlashImage& image) {
  if (result && image.Length == 0) {
    LoadResult empty = LoadResult::Failure("the file holds no firmware data");
    empty.FileName = result.FileName;
    result = empty;
  }
  return static_cast<bool>(result);
}

LoadResult LoadFile(FlashImage& image, const std::filesystem::path& path, FileFormat format) {
  switch (format) {
    case FileFormat::kHex:
      return LoadHexImage(image, path);
    case FileFormat::kBin:
      return LoadBinImage(image, path);
    case FileFormat::kUnknown:
      break;
  }
  // Whatever an earlier file left in the image is not this file: it must not be programmed in
  // its name.
  EraseImage(image);
  LoadResult result =
      LoadResult::Failure("not a firmware file name, which ends in .hex, .h00 or .bin");
  result.FileName = DisplayName(path);
  return result;
}

}  // namespace

void TForm1::RememberFilePath() {
  std::vector<std::string> items = cbxReadISPFile->Items();
  if (std::find(items.begin(), items.end(), core.UpdateFilePath) == items.end()) {
    items.push_back(core.UpdateFilePath);
    cbxReadISPFile->SetItems(std::move(items));
  }
  cbxReadISPFile->SetText(core.UpdateFilePath);
}

void TForm1::ReadProgramFile1() {
  const std::filesystem::path directory = shell.CurrentDirectory();
  const std::string_view stem = FieldText(DeviceModelTable().at(app.ModelIndex).FileStem);

  std::filesystem::path found;
  FileFormat format = FileFormat::kUnknown;
  for (const auto& [extension, candidate] :
       {std::pair{".hex", FileFormat::kHex}, std::pair{".bin", FileFormat::kBin}}) {
    const std::filesystem::path path = directory / (std::string(stem) + extension);
    core.UpdateFilePath = path.string();
    if (std::ifstream(path, std::ios::binary).is_open()) {
      found = path;
      format = candidate;
      break;
    }
  }
  if (format == FileFormat::kUnknown) {
    lblUpdaeFileStatus->SetCaption("No Updated File !");
    btnSimpleAuto->SetEnabled(false);
    return;
  }

  LoadResult result = LoadFile(core.FlashImage, found, format);
  if (!IsProgrammable(result, core.FlashImage)) {
    // The loader left the image empty; nothing may look ready to program.
    pnlUSBExist->SetColor(ui::clBtnFace);
    lblUpdaeFileStatus->SetCaption(result.Message());
    btnSimpleAuto->SetEnabled(false);
    core.UpdateFileLoaded = 0;
    core.ProgramFileReady = 0;
    return;
  }
  pnlUSBExist->SetColor(ui::clLime);
  lblUpdaeFileStatus->SetCaption("Firmware Update file   " + DisplayName(found) + "    is Ready!");
  // The one update of this run is over: "Finish" stays as it is.
  btnSimpleAuto->SetEnabled(!app.UpdateFinished);
  core.UpdateFileLoaded = 1;
  core.ProgramFileReady = 1;
}

void TForm1::ReadProgramFile() {
  if (core.UpdateFilePath.empty()) {
    shell.ShowMessageBox("Program File Not Ready !!    ", "Dialog", kMbOk);
    core.ProgramFileReady = 0;
    return;
  }
  RememberFilePath();

  const std::filesystem::path path(core.UpdateFilePath);
  LoadResult result = LoadFile(core.FlashImage, path, FormatOf(core.UpdateFilePath));
  if (!IsProgrammable(result, core.FlashImage)) {
    lblUSBChecksum->SetCaption(result.Message());
    core.ProgramFileReady = 0;
    return;
  }
  lblUSBChecksum->SetCaption("Checksum : 0x" + FormatHex(result.Checksum, 4));
  core.ProgramFileReady = 1;
}

}  // namespace qv
