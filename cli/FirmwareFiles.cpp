#include "cli/FirmwareFiles.h"

#include <algorithm>
#include <fstream>

#include "image/BinLoader.h"
#include "image/FileFormat.h"
#include "image/HexLoader.h"
#include "image/UserParameterMarker.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// Intel HEX text: the first thing but blanks is a ':' and every byte is printable text, a tab
// or a line end (a trailing Ctrl-Z as some editors leave it included). Firmware bytes are never
// all of that: a binary image has bytes below 0x20 and above 0x7E within its first few hundred.
bool LooksLikeIntelHex(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != ':') return false;
  return std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n' || c == 0x1A;
  });
}

}  // namespace

FirmwareLoad LoadFirmware(FlashImage& image, const std::filesystem::path& path) {
  FirmwareLoad load;
  const bool namedHex = LowerAscii(path.extension().string()) == ".hex";
  const bool hex = namedHex || LooksLikeIntelHex(path);
  load.result = hex ? LoadHexImage(image, path) : LoadBinImage(image, path);
  if (hex && !namedHex) load.note = DisplayName(path) + " holds Intel HEX text: read as Intel HEX";
  if (load.result && image.Length == 0) {
    load.result = LoadResult::Failure("the file holds no data to program");
    load.result.FileName = DisplayName(path);
  }
  return load;
}

MarkerCheck FindMarkerInFile(FlashImage& image, const std::filesystem::path& path) {
  MarkerCheck check;
  switch (FormatOf(path.string())) {
    case FileFormat::kHex:
      check.result = LoadHexImage(image, path);
      break;
    case FileFormat::kBin:
      check.result = LoadBinImage(image, path);
      break;
    case FileFormat::kUnknown:
      check.result =
          LoadResult::Failure("not a firmware file name, which ends in .hex, .h00 or .bin");
      check.result.FileName = DisplayName(path);
      return check;
  }
  if (check.result) check.offset = FindUserParameterMarker(image.Data, image.Length);
  return check;
}

const DeviceModel* ModelOfFileName(const std::filesystem::path& path) {
  const std::string name = LowerAscii(DisplayName(path));
  const DeviceModel* found = nullptr;
  std::size_t longest = 0;
  for (const DeviceModel& model : DeviceModelTable()) {
    const std::string stem = LowerAscii(FieldText(model.FileStem));
    if (stem.size() > longest && name.find(stem) != std::string::npos) {
      found = &model;
      longest = stem.size();
    }
  }
  return found;
}

const DeviceModel* ModelOfMatchText(const std::string& matchText) {
  for (const DeviceModel& model : DeviceModelTable())
    if (FieldText(model.MatchText) == matchText) return &model;
  return nullptr;
}

std::optional<std::string> ModelMismatch(const std::filesystem::path& file,
                                         const std::string& deviceMatchText) {
  const DeviceModel* fileModel = ModelOfFileName(file);
  const DeviceModel* deviceModel = ModelOfMatchText(deviceMatchText);
  if (!fileModel || !deviceModel || fileModel == deviceModel) return std::nullopt;
  return DisplayName(file) + " is named for the " + std::string(ModelName(*fileModel)) +
         ", but the device is a " + std::string(ModelName(*deviceModel)) +
         "; another model's firmware can leave the device unusable. Pass --force to program it "
         "anyway";
}

}  // namespace qv::cli
