#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/DeviceModels.h"
#include "image/FlashImage.h"
#include "image/LoadResult.h"

// Firmware files as the command line takes them: any name, read by what the file holds.
namespace qv::cli {

// The largest firmware file the tool reads: a whole 256 KiB image as Intel HEX in records of one
// byte takes 3.4 MB, so this leaves room for line ends and notes. Nothing larger is read.
inline constexpr std::uintmax_t kMaxFirmwareFileSize = 16 * 1024 * 1024;

// A backup holds at most the flash's 24-bit address space.
inline constexpr std::uintmax_t kMaxBackupFileSize = 16 * 1024 * 1024;

struct FirmwareLoad {
  LoadResult result;
  // Set when the name did not say how to read the file and its contents did ("fw.ihx holds
  // Intel HEX text: read as Intel HEX").
  std::string note;
  // The SHA-256 of the bytes read, in hex: which file went to a device, beyond the image's
  // 16-bit checksum. Set when the file was read.
  std::string sha256;
};

// A name ending in .hex (any case) is read as Intel HEX. Any other file whose contents are
// Intel HEX text (records starting with ':' and nothing but text) is read as Intel HEX too, with
// a note: programming the characters of a HEX file as raw bytes would write text into the
// flash. Everything else is raw binary. A file without any byte to program is refused, and so
// are a directory and a file past kMaxFirmwareFileSize, before more than that is read.
FirmwareLoad LoadFirmware(FlashImage& image, const std::filesystem::path& path);

// What verify compares the flash with: a firmware file as LoadFirmware reads it, or a raw binary
// larger than the firmware image (a backup of a whole flash), put into `wholeFlash` instead.
FirmwareLoad LoadFileToCompare(FlashImage& image, std::vector<std::uint8_t>& wholeFlash,
                               const std::filesystem::path& path);

// A backup as restore takes it: raw binary of 1 to kMaxBackupFileSize bytes. A file
// that is Intel HEX by its name (.hex, .h00) or its contents is no backup: its text would be
// written as bytes. Why not, if not; `bytes` holds the file then.
std::optional<std::string> ReadBackupFile(const std::filesystem::path& path,
                                          std::vector<std::uint8_t>& bytes);

// The editor page's check of a file: loaded by its name's extension letter (.hex and .h00 as
// Intel HEX, .bin as binary), then searched for the user-parameter marker. A name that is
// neither, or a file the loader refuses, fails the load.
struct MarkerCheck {
  LoadResult result;
  std::optional<std::uint32_t> offset;
};
MarkerCheck FindMarkerInFile(FlashImage& image, const std::filesystem::path& path);

// The model whose file stem the file's name carries (any letter case), the longest stem when
// several fit ("Brevanto_RX1P" over "Brevanto_RX1"); nothing for a name with no model's stem.
const DeviceModel* ModelOfFileName(const std::filesystem::path& path);

// Why an output must not be written over `path`: it is a model's firmware file (its stem and
// .hex or .bin), or an existing file of Intel HEX text, which no output of the tool is. Nothing
// when it may be.
std::optional<std::string> FirmwareAtOutput(const std::filesystem::path& path);

// The model-table row of a device's match text, nothing for an update id.
const DeviceModel* ModelOfMatchText(const std::string& matchText);

// Why a file must not go to this device: its name carries another model's stem. Nothing when
// the name carries the device's own stem, no stem at all, or the device's model is unknown.
std::optional<std::string> ModelMismatch(const std::filesystem::path& file,
                                         const std::string& deviceMatchText);

}  // namespace qv::cli
