// reg read, write and dump: the chip's registers, one byte per request, as the register page
// reads and writes them.

#include "chip/Registers.h"
#include "cli/CommandTable.h"
#include "cli/RegisterAccess.h"

namespace qv::cli {
namespace {

constexpr const char* kNumber = "(decimal, or hex after 0x)";
// The pause between a write and its read-back, as the register page keys it.
constexpr std::uint32_t kReadBackPauseMs = 1;

struct RegisterParameters {
  ByteArgument bank, address;
};

struct RegisterWriteParameters {
  ByteArgument bank, address, value;
};

void DeclareRegister(CLI::App& command, ByteArgument& bank, ByteArgument& address) {
  Positional(command, "BANK", bank.text, kNumber);
  Positional(command, "ADDR", address.text, kNumber);
}

std::optional<std::string> CheckRegister(ByteArgument& bank, ByteArgument& address) {
  if (auto error = CheckByte(bank, "BANK")) return error;
  return CheckByte(address, "ADDR");
}

CommandResult Read(RegisterParameters& p, CommandRun& run) {
  QuorvexUsb& usb = run.core->UsbDevice;
  nlohmann::json& document = run.report.Document();
  const OpenConnection connection(usb);
  std::uint8_t value = 0;
  document["bank"] = p.bank.value;
  document["address"] = p.address.value;
  if (!SelectRegisterBank(usb, p.bank.value) || !ReadRegister(usb, p.address.value, &value))
    return {kExitFailed, "the register could not be read"};
  document["value"] = value;
  run.report.Out() << Hex2(value) << '\n';
  return {};
}

CommandResult Write(RegisterWriteParameters& p, CommandRun& run) {
  QuorvexUsb& usb = run.core->UsbDevice;
  nlohmann::json& document = run.report.Document();
  const OpenConnection connection(usb);
  std::uint8_t value = p.value.value;
  document["bank"] = p.bank.value;
  document["address"] = p.address.value;
  document["written"] = p.value.value;
  if (!SelectRegisterBank(usb, p.bank.value) ||
      !WriteAndReadBack(usb, run.core->clock, p.address.value, &value, kReadBackPauseMs))
    return {kExitFailed, "the register could not be written and read back"};
  document["readBack"] = value;
  run.report.Out() << Hex2(value) << '\n';
  return {};
}

CommandResult Dump(ByteArgument& bank, CommandRun& run) {
  QuorvexUsb& usb = run.core->UsbDevice;
  const OpenConnection connection(usb);
  run.report.Document()["bank"] = bank.value;
  if (!SelectRegisterBank(usb, bank.value))
    return {kExitFailed, "the bank could not be selected; nothing was read"};
  std::array<std::optional<std::uint8_t>, 256> values{};
  for (std::size_t a = 0; a < values.size(); ++a) {
    std::uint8_t value = 0;
    if (ReadRegister(usb, static_cast<std::uint16_t>(a), &value)) values[a] = value;
  }
  return ShowRegisterTable(run.report, values, "registers");
}

}  // namespace

const CommandFamily& RegisterCommands() {
  static const CommandGroup kGroups[] = {
      {.word = "reg", .help = "The chip's registers, one byte per request"},
  };
  static const Command kCommands[] = {
      CommandRow<RegisterParameters>{
          .words = "reg read",
          .help = "Select the bank and read one register",
          .declare = [](CLI::App& command,
                        RegisterParameters& p) { DeclareRegister(command, p.bank, p.address); },
          .check = [](RegisterParameters& p) { return CheckRegister(p.bank, p.address); },
          .run = Read,
      },
      CommandRow<RegisterWriteParameters>{
          .words = "reg write",
          .help = "Select the bank, write, wait 1 ms and show the value read back",
          .declare =
              [](CLI::App& command, RegisterWriteParameters& p) {
                DeclareRegister(command, p.bank, p.address);
                Positional(command, "VALUE", p.value.text, kNumber);
              },
          .check = [](RegisterWriteParameters& p) -> std::optional<std::string> {
            if (auto error = CheckRegister(p.bank, p.address)) return error;
            return CheckByte(p.value, "VALUE");
          },
          .run = Write,
      },
      CommandRow<ByteArgument>{
          .words = "reg dump",
          .help = "All 256 registers of a bank as a table",
          .declare = [](CLI::App& command,
                        ByteArgument& bank) { Positional(command, "BANK", bank.text, kNumber); },
          .check = [](ByteArgument& bank) { return CheckByte(bank, "BANK"); },
          .run = Dump,
      },
  };
  static const CommandFamily kFamily{.groups = kGroups, .commands = kCommands};
  return kFamily;
}

}  // namespace qv::cli
