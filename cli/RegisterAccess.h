#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Report.h"
#include "transport/QuorvexUsb.h"

// What the register, I2C, status and key commands share: the bytes they take from the command
// line (every one checked, its limit named), 0xNN as they show a byte, the table of 256 registers
// of the dumps, and the connection held open around their requests.
namespace qv::cli {

// A byte of the command line (BANK, ADDR, SLAVE ...) as typed, and its value once checked.
struct ByteArgument {
  std::string text;
  std::uint8_t value = 0;
};

// Why `byte` is no number from 0 to 255, naming it as `what`; sets its value when it is one.
std::optional<std::string> CheckByte(ByteArgument& byte, const char* what);

// `texts` as `fewest` to `most` bytes into `out`; why not, if not.
std::optional<std::string> CheckBytes(const std::vector<std::string>& texts, const char* what,
                                      std::size_t fewest, std::size_t most,
                                      std::vector<std::uint8_t>& out);

// "0x5A".
std::string Hex2(unsigned value);

// The 256 registers as the grids show them, "--" where a read failed, with the values (null
// where unread) in the document; a failure names how many of the 256 `what` were not read.
CommandResult ShowRegisterTable(Report& report,
                                const std::array<std::optional<std::uint8_t>, 256>& values,
                                const std::string& what);

// The connection opened for a command's requests and closed however the command ends.
class OpenConnection {
 public:
  explicit OpenConnection(QuorvexUsb& usb) : usb_(usb) { usb_.Open(); }
  ~OpenConnection() { usb_.Close(); }
  OpenConnection(const OpenConnection&) = delete;
  OpenConnection& operator=(const OpenConnection&) = delete;

 private:
  QuorvexUsb& usb_;
};

}  // namespace qv::cli
