// i2c read, write, raw and dump: the parts on the chip's I2C bus, through its I2C master as the
// I2C Access page and its special access use it.

#include "chip/I2cMaster.h"
#include "cli/CommandTable.h"
#include "cli/RegisterAccess.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

constexpr const char* kNumber = "(decimal, or hex after 0x)";
constexpr const char* kSlaveHelp = "the address byte, bit 0 clear";
constexpr std::size_t kMaxRawBytes = 5;

std::optional<std::string> CheckSlave(ByteArgument& slave) {
  if (auto error = CheckByte(slave, "SLAVE")) return error;
  if (slave.value & 1)
    return "SLAVE is the address byte with bit 0 clear (the read bit is the tool's): " +
           Hex2(slave.value) + " has it set; " + Hex2(slave.value & 0xFE) + " is that part";
  return std::nullopt;
}

std::string SlaveSilent(std::uint8_t slave) {
  return "the slave at " + Hex2(slave) + " did not acknowledge its address (or a request failed)";
}

// The access on an open connection, once the I2C master is prepared as entering the I2C page
// prepares it.
template <typename Access>
CommandResult OnTheBus(CommandRun& run, std::uint8_t slave, Access access) {
  QuorvexUsb& usb = run.core->UsbDevice;
  const OpenConnection connection(usb);
  run.report.Document()["slave"] = slave;
  if (!PrepareI2CMaster(usb)) return {kExitFailed, "the chip's I2C master could not be prepared"};
  return access(usb);
}

CommandResult ShowRead(CommandRun& run, const std::vector<std::uint8_t>& bytes) {
  run.report.Document()["bytes"] = bytes;
  std::string text;
  for (std::uint8_t b : bytes) text += (text.empty() ? "" : " ") + Hex2(b);
  run.report.Out() << text << '\n';
  return {};
}

CommandResult ShowWritten(CommandRun& run, const std::vector<std::uint8_t>& bytes) {
  run.report.Out() << "written " << bytes.size() << (bytes.size() == 1 ? " byte" : " bytes")
                   << '\n';
  return {};
}

struct ReadParameters {
  ByteArgument slave, reg;
  std::string countText;
  std::size_t count = 1;
};

std::optional<std::string> CheckRead(ReadParameters& p) {
  if (auto error = CheckSlave(p.slave)) return error;
  if (auto error = CheckByte(p.reg, "REG")) return error;
  if (p.countText.empty()) return std::nullopt;
  const auto count = ParseNumber(p.countText, kI2cMaxLength);
  if (!count || *count == 0) return "COUNT needs a number from 1 to 255, not '" + p.countText + "'";
  p.count = static_cast<std::size_t>(*count);
  return std::nullopt;
}

CommandResult Read(ReadParameters& p, CommandRun& run) {
  return OnTheBus(run, p.slave.value, [&](QuorvexUsb& usb) {
    std::vector<std::uint8_t> bytes(p.count);
    if (!I2CReadRegisters(usb, p.slave.value, p.reg.value, bytes))
      return CommandResult{kExitFailed, SlaveSilent(p.slave.value)};
    return ShowRead(run, bytes);
  });
}

struct WriteParameters {
  ByteArgument slave, reg;
  std::vector<std::string> byteTexts;
  std::vector<std::uint8_t> bytes;
};

CommandResult Write(WriteParameters& p, CommandRun& run) {
  return OnTheBus(run, p.slave.value, [&](QuorvexUsb& usb) {
    const bool sent = I2CWriteRegisters(usb, p.slave.value, p.reg.value, p.bytes);
    run.report.Document()["written"] = p.bytes;
    if (!sent) return CommandResult{kExitFailed, SlaveSilent(p.slave.value)};
    return ShowWritten(run, p.bytes);
  });
}

// 1 to 5 command bytes, then 1 to 5 data bytes written, or read.
struct RawParameters {
  ByteArgument slave;
  std::vector<std::string> commandTexts, writeTexts;
  std::string readText;
  std::vector<std::uint8_t> prefix, bytes;
  std::size_t readCount = 0;  // 0: it writes
};

std::optional<std::string> CheckRaw(RawParameters& p) {
  if (auto error = CheckSlave(p.slave)) return error;
  if (auto error = CheckBytes(p.commandTexts, "--cmd", 1, kMaxRawBytes, p.prefix)) return error;
  const bool writes = !p.writeTexts.empty();
  const bool reads = !p.readText.empty();
  if (writes == reads) return "the raw access needs either --write BYTE... or --read N";
  if (writes) return CheckBytes(p.writeTexts, "--write", 1, kMaxRawBytes, p.bytes);
  const auto n = ParseNumber(p.readText, kMaxRawBytes);
  if (!n || *n == 0) return "--read needs a number of bytes from 1 to 5, not '" + p.readText + "'";
  p.readCount = static_cast<std::size_t>(*n);
  return std::nullopt;
}

CommandResult Raw(RawParameters& p, CommandRun& run) {
  return OnTheBus(run, p.slave.value, [&](QuorvexUsb& usb) {
    if (p.readCount == 0) {
      const bool sent = I2CWrite(usb, p.slave.value, p.prefix, p.bytes);
      run.report.Document()["written"] = p.bytes;
      if (!sent) return CommandResult{kExitFailed, SlaveSilent(p.slave.value)};
      return ShowWritten(run, p.bytes);
    }
    std::vector<std::uint8_t> bytes(p.readCount);
    if (!I2CRead(usb, p.slave.value, p.prefix, bytes))
      return CommandResult{kExitFailed, SlaveSilent(p.slave.value)};
    return ShowRead(run, bytes);
  });
}

CommandResult Dump(ByteArgument& slave, CommandRun& run) {
  return OnTheBus(run, slave.value, [&](QuorvexUsb& usb) {
    std::array<std::optional<std::uint8_t>, 256> values{};
    for (std::size_t r = 0; r < values.size(); ++r) {
      std::uint8_t value = 0;
      if (I2CReadRegisters(usb, slave.value, static_cast<std::uint8_t>(r), {&value, 1}))
        values[r] = value;
    }
    return ShowRegisterTable(run.report, values, "slave registers");
  });
}

}  // namespace

const CommandFamily& I2cCommands() {
  static const CommandGroup kGroups[] = {
      {.word = "i2c", .help = "Parts on the chip's I2C bus"},
  };
  static const Command kCommands[] = {
      CommandRow<ReadParameters>{
          .words = "i2c read",
          .help = "Read COUNT registers (default 1) from REG",
          .declare =
              [](CLI::App& command, ReadParameters& p) {
                Positional(command, "SLAVE", p.slave.text,
                           "the address byte, bit 0 clear (0x20 ...)");
                Positional(command, "REG", p.reg.text, kNumber);
                Positional(command, "COUNT", p.countText, "1 to 255", false);
              },
          .check = CheckRead,
          .run = Read,
      },
      CommandRow<WriteParameters>{
          .words = "i2c write",
          .help = "Write bytes from REG on",
          .declare =
              [](CLI::App& command, WriteParameters& p) {
                Positional(command, "SLAVE", p.slave.text, kSlaveHelp);
                Positional(command, "REG", p.reg.text, kNumber);
                command.add_option("BYTE", p.byteTexts, "1 to 255 bytes")->required();
              },
          .check = [](WriteParameters& p) -> std::optional<std::string> {
            if (auto error = CheckSlave(p.slave)) return error;
            if (auto error = CheckByte(p.reg, "REG")) return error;
            return CheckBytes(p.byteTexts, "BYTE", 1, kI2cMaxLength, p.bytes);
          },
          .run = Write,
      },
      CommandRow<RawParameters>{
          .words = "i2c raw",
          .help = "1 to 5 command bytes, then 1 to 5 data bytes written or read",
          .declare =
              [](CLI::App& command, RawParameters& p) {
                Positional(command, "SLAVE", p.slave.text, kSlaveHelp);
                command.add_option("--cmd", p.commandTexts, "1 to 5 command bytes")
                    ->required()
                    ->type_name("BYTE...");
                command.add_option("--write", p.writeTexts, "1 to 5 data bytes to write")
                    ->type_name("BYTE...");
                command.add_option("--read", p.readText, "1 to 5 bytes to read")->type_name("N");
              },
          .check = CheckRaw,
          .run = Raw,
      },
      CommandRow<ByteArgument>{
          .words = "i2c dump",
          .help = "All 256 registers of a slave as a table",
          .declare =
              [](CLI::App& command, ByteArgument& slave) {
                Positional(command, "SLAVE", slave.text, kSlaveHelp);
              },
          .check = CheckSlave,
          .run = Dump,
      },
  };
  static const CommandFamily kFamily{.groups = kGroups, .commands = kCommands};
  return kFamily;
}

}  // namespace qv::cli
