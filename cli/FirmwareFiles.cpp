#include "cli/FirmwareFiles.h"

#include <algorithm>

#include "image/BinLoader.h"
#include "image/FileFormat.h"
#include "image/HexLoader.h"
#include "image/UserParameterMarker.h"
#include "util/FilePaths.h"
#include "util/InputFile.h"
#include "util/Sha256.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// Intel HEX text: the first thing but blanks is a ':' and every byte is printable text, a tab
// or a line end (a trailing Ctrl-Z as some editors leave it included). Firmware bytes are never
// all of that: a binary image has bytes below 0x20 and above 0x7E within its first few hundred.
constexpr const char* kFirmwareLimit = "the largest firmware file qvtool reads (16 MiB)";

bool LooksLikeIntelHex(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != ':') return false;
  return std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n' || c == 0x1A;
  });
}

LoadResult Refused(FlashImage& image, std::string reason) {
  EraseImage(image);
  return LoadResult::Failure(std::move(reason));
}

bool NamedHex(const std::filesystem::path& path) {
  return LowerAscii(path.extension().string()) == ".hex";
}

FirmwareLoad LoadFirmwareFrom(FlashImage& image, const std::filesystem::path& path,
                              const InputFile& file) {
  FirmwareLoad load;
  if (!file.error.empty()) {
    load.result = Refused(image, file.error);
    return load;
  }
  load.sha256 =
      Sha256Hex({reinterpret_cast<const std::uint8_t*>(file.bytes.data()), file.bytes.size()});
  const bool namedHex = NamedHex(path);
  const bool hex = namedHex || LooksLikeIntelHex(file.bytes);
  load.result = hex ? LoadHexText(image, file.bytes) : LoadBinBytes(image, file.bytes);
  load.result.FileName = DisplayName(path);
  if (hex && !namedHex) load.note = DisplayName(path) + " holds Intel HEX text: read as Intel HEX";
  if (load.result && image.Length == 0) {
    load.result = LoadResult::Failure("the file holds no data to program");
    load.result.FileName = DisplayName(path);
  }
  return load;
}

}  // namespace

FirmwareLoad LoadFirmware(FlashImage& image, const std::filesystem::path& path) {
  return LoadFirmwareFrom(image, path, ReadInputFile(path, kMaxFirmwareFileSize, kFirmwareLimit));
}

FirmwareLoad LoadFileToCompare(FlashImage& image, std::vector<std::uint8_t>& wholeFlash,
                               const std::filesystem::path& path) {
  const InputFile file = ReadInputFile(path, kMaxFirmwareFileSize, kFirmwareLimit);
  const bool wholeFlashBackup = file.error.empty() && file.bytes.size() > kFlashImageSize &&
                                !NamedHex(path) && !LooksLikeIntelHex(file.bytes);
  if (!wholeFlashBackup) return LoadFirmwareFrom(image, path, file);
  EraseImage(image);
  wholeFlash.assign(file.bytes.begin(), file.bytes.end());
  FirmwareLoad load;
  load.result = LoadResult::Success(0);
  load.result.FileName = DisplayName(path);
  return load;
}

std::optional<std::string> ReadBackupFile(const std::filesystem::path& path,
                                          std::vector<std::uint8_t>& bytes) {
  const InputFile file =
      ReadInputFile(path, kMaxBackupFileSize, "the flash's whole address space (16 MiB)");
  if (!file.error.empty()) return file.error;
  if (file.bytes.empty()) return QuotedPath(path) + " is empty: no backup to write back";
  if (FormatOf(path.string()) == FileFormat::kHex || LooksLikeIntelHex(file.bytes))
    return QuotedPath(path) +
           " is an Intel HEX file, and a backup is the flash's raw bytes: update it with "
           "'qvtool update' instead";
  bytes.assign(file.bytes.begin(), file.bytes.end());
  return std::nullopt;
}

MarkerCheck FindMarkerInFile(FlashImage& image, const std::filesystem::path& path) {
  MarkerCheck check;
  const FileFormat format = FormatOf(path.string());
  if (format == FileFormat::kUnknown) {
    check.result =
        LoadResult::Failure("not a firmware file name, which ends in .hex, .h00 or .bin");
    check.result.FileName = DisplayName(path);
    return check;
  }
  const InputFile file = ReadInputFile(path, kMaxFirmwareFileSize, kFirmwareLimit);
  if (!file.error.empty()) {
    check.result = Refused(image, file.error);
    return check;
  }
  check.result =
      format == FileFormat::kHex ? LoadHexText(image, file.bytes) : LoadBinBytes(image, file.bytes);
  check.result.FileName = DisplayName(path);
  // An empty file is no firmware file, as update refuses it too.
  if (check.result && image.Length == 0) {
    check.result = LoadResult::Failure("the file holds no data");
    check.result.FileName = DisplayName(path);
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

std::optional<std::string> FirmwareAtOutput(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const std::string name = LowerAscii(DisplayName(path));
  const char* what = nullptr;
  for (const DeviceModel& model : DeviceModelTable()) {
    const std::string stem = LowerAscii(FieldText(model.FileStem));
    if (name == stem + ".hex" || name == stem + ".bin") what = "a model's firmware file";
  }
  if (!what) {
    const InputFile file = ReadInputFile(path, kMaxFirmwareFileSize, kFirmwareLimit);
    if (file.error.empty() && LooksLikeIntelHex(file.bytes)) what = "a firmware file (Intel HEX)";
  }
  if (!what) return std::nullopt;
  return QuotedPath(path) + " is " + what +
         ", and an output would replace it. Give another file, or pass --force to replace it";
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
