#include "cli/MaintenanceCommands.h"

#include <array>
#include <cctype>

#include "chip/I2cMaster.h"
#include "chip/ParameterItems.h"
#include "chip/ParameterRequest.h"
#include "chip/PlaybackStatus.h"
#include "chip/Registers.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// The pauses between a write and its read-back, as the register page keys them.
constexpr std::uint32_t kRegisterReadBackPauseMs = 1;
constexpr std::size_t kMaxRawBytes = 5;

std::string Hex2(unsigned value) {
  return "0x" + FormatHex(value, 2);
}

std::optional<std::string> Byte(const std::string& text, const char* what, std::uint8_t& out) {
  const auto value = ParseNumber(text, 0xFF);
  if (!value)
    return std::string(what) +
           " needs a number from 0 to 255 (0xFF), decimal or hex after 0x, "
           "not '" +
           text + "'";
  out = static_cast<std::uint8_t>(*value);
  return std::nullopt;
}

std::optional<std::string> Bytes(const std::vector<std::string>& texts, const char* what,
                                 std::size_t fewest, std::size_t most,
                                 std::vector<std::uint8_t>& out) {
  if (texts.size() < fewest || texts.size() > most)
    return std::string(what) + " takes " + std::to_string(fewest) + " to " + std::to_string(most) +
           " bytes, not " + std::to_string(texts.size());
  out.clear();
  for (const std::string& text : texts) {
    std::uint8_t byte = 0;
    if (auto error = Byte(text, what, byte)) return error;
    out.push_back(byte);
  }
  return std::nullopt;
}

std::optional<std::string> Slave(const std::string& text, std::uint8_t& out) {
  if (auto error = Byte(text, "SLAVE", out)) return error;
  if (out & 1)
    return "SLAVE is the address byte with bit 0 clear (the read bit is the tool's): " + Hex2(out) +
           " has it set; " + Hex2(out & 0xFE) + " is that part";
  return std::nullopt;
}

std::optional<std::string> Id(const std::string& text, const char* what) {
  const bool hex = text.size() == 4 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
                     return std::isxdigit(c) != 0;
                   });
  if (!hex) return std::string(what) + " needs four hexadecimal digits, not '" + text + "'";
  return std::nullopt;
}

// A table of 256 registers with the grids' headers; "--" where a read failed.
void PrintTable(std::ostream& out, const std::array<std::optional<std::uint8_t>, 256>& values) {
  out << "  ";
  for (int c = 0; c < 16; ++c) out << ' ' << FormatHex(static_cast<unsigned>(c), 2);
  out << '\n';
  for (int r = 0; r < 16; ++r) {
    out << FormatHex(static_cast<unsigned>(r * 16), 2);
    for (int c = 0; c < 16; ++c) {
      const auto& value = values[static_cast<std::size_t>(r * 16 + c)];
      out << ' ' << (value ? FormatHex(*value, 2) : std::string("--"));
    }
    out << '\n';
  }
}

CommandResult Table(Report& report, const std::array<std::optional<std::uint8_t>, 256>& values,
                    const std::string& what) {
  PrintTable(report.Out(), values);
  nlohmann::json registers = nlohmann::json::array();
  std::size_t failed = 0;
  for (const auto& value : values) {
    registers.push_back(value ? nlohmann::json(*value) : nlohmann::json(nullptr));
    failed += !value;
  }
  report.Document()["registers"] = registers;
  if (failed == 0) return {};
  return {kExitFailed,
          std::to_string(failed) + " of the 256 " + what + " could not be read; they show as --"};
}

std::string Joined(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += Hex2(b);
  }
  return text;
}

CommandResult NotAnswered(const std::string& what) {
  return {kExitFailed, what};
}

std::string SlaveSilent(std::uint8_t slave) {
  return "the slave at " + Hex2(slave) + " did not acknowledge its address (or a request failed)";
}

void ShowSettings(Report& report, const SettingsRecord& record) {
  nlohmann::json fields = nlohmann::json::object();
  for (const SettingsField& field : SettingsFields()) {
    const std::string word(FieldWord(field, record));
    report.Out() << field.name << '=' << word << '\n';
    fields[std::string(field.name)] = word;
  }
  const bool eeprom = (record[3] & 0x80) != 0;
  report.Out() << "eeprom=" << (eeprom ? "present" : "absent") << '\n';
  report.Out() << "record=" << FormatHexBytes(record) << '\n';
  report.Document()["settings"] = fields;
  report.Document()["eeprom"] = eeprom;
  report.Document()["record"] = record;
}

}  // namespace

std::optional<std::string> Question(const MaintenanceArgs& args) {
  if (args.command == Maintenance::kSetVid || args.command == Maintenance::kSetPid)
    return std::string(
        "A device with new USB ids is no longer one of the models this tool and its drivers "
        "know: after it restarts they may not find it. Would you like to proceed?");
  if (args.command == Maintenance::kSetString && args.text.empty())
    return std::string(
        "An empty text clears the string the device keeps. Would you like to proceed?");
  return std::nullopt;
}

std::optional<std::string> ParseMaintenance(Maintenance command, const MaintenanceWords& words,
                                            MaintenanceArgs& args) {
  args = {};
  args.command = command;
  switch (command) {
    case Maintenance::kRegRead:
      if (auto e = Byte(words.bank, "BANK", args.bank)) return e;
      return Byte(words.address, "ADDR", args.address);
    case Maintenance::kRegWrite:
      if (auto e = Byte(words.bank, "BANK", args.bank)) return e;
      if (auto e = Byte(words.address, "ADDR", args.address)) return e;
      return Byte(words.value, "VALUE", args.value);
    case Maintenance::kRegDump:
      return Byte(words.bank, "BANK", args.bank);
    case Maintenance::kI2cRead: {
      if (auto e = Slave(words.slave, args.slave)) return e;
      if (auto e = Byte(words.reg, "REG", args.reg)) return e;
      if (words.count.empty()) return std::nullopt;
      const auto count = ParseNumber(words.count, kI2cMaxLength);
      if (!count || *count == 0)
        return "COUNT needs a number from 1 to 255, not '" + words.count + "'";
      args.count = static_cast<std::size_t>(*count);
      return std::nullopt;
    }
    case Maintenance::kI2cWrite:
      if (auto e = Slave(words.slave, args.slave)) return e;
      if (auto e = Byte(words.reg, "REG", args.reg)) return e;
      return Bytes(words.bytes, "BYTE", 1, kI2cMaxLength, args.bytes);
    case Maintenance::kI2cRaw: {
      if (auto e = Slave(words.slave, args.slave)) return e;
      if (auto e = Bytes(words.command, "--cmd", 1, kMaxRawBytes, args.prefix)) return e;
      const bool writes = !words.write.empty();
      const bool reads = !words.read.empty();
      if (writes == reads) return "the raw access needs either --write BYTE... or --read N";
      if (writes) return Bytes(words.write, "--write", 1, kMaxRawBytes, args.bytes);
      const auto n = ParseNumber(words.read, kMaxRawBytes);
      if (!n || *n == 0)
        return "--read needs a number of bytes from 1 to 5, not '" + words.read + "'";
      args.readCount = static_cast<std::size_t>(*n);
      return std::nullopt;
    }
    case Maintenance::kI2cDump:
      return Slave(words.slave, args.slave);
    case Maintenance::kSetVid:
    case Maintenance::kSetPid:
      args.item = command == Maintenance::kSetVid ? parameter::kVendorId : parameter::kProductId;
      args.text = words.text;
      return Id(words.text, command == Maintenance::kSetVid ? "set-vid" : "set-pid");
    case Maintenance::kSetString: {
      const auto index = ParseNumber(words.index, 3);
      if (!index || *index == 0) return "set-string needs the string's number, 1, 2 or 3";
      static constexpr std::array<unsigned, 3> kItems = {parameter::kString1, parameter::kString2,
                                                         parameter::kString3};
      args.item = kItems[*index - 1];
      // The device keeps bytes: a character of UTF-8 text may take several.
      if (words.text.size() > kMaxParameterStringLength)
        return "the string holds " + std::to_string(words.text.size()) +
               " bytes; the device keeps at most " + std::to_string(kMaxParameterStringLength);
      if (std::any_of(words.text.begin(), words.text.end(),
                      [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
        return std::string(
            "the string holds a control character (a line end, a tab, ...), which a USB "
            "descriptor cannot show");
      args.text = words.text;
      return std::nullopt;
    }
    case Maintenance::kSettingsSet:
      if (words.fields.empty()) return "settings set needs at least one FIELD=VALUE";
      for (const std::string& text : words.fields) {
        std::string error;
        const auto change = ParseFieldChange(text, error);
        if (!change) return error;
        // Which of two values for one field is meant cannot be told.
        for (const FieldChange& earlier : args.changes)
          if (earlier.field == change->field)
            return std::string(change->field->name) + " is given twice; give each field once";
        args.changes.push_back(*change);
      }
      return std::nullopt;
    case Maintenance::kKey:
      for (const MediaKey& key : MediaKeys())
        if (key.name == words.key) args.key = &key;
      if (!args.key)
        return "key needs one of prev, vol-, play, vol+, next, not '" + words.key + "'";
      return std::nullopt;
    case Maintenance::kSettingsGet:
    case Maintenance::kStatus:
      return std::nullopt;
  }
  return std::nullopt;
}

CommandResult RunMaintenance(const MaintenanceArgs& args, CoreState& core, Report& report) {
  QuorvexUsb& usb = core.UsbDevice;
  nlohmann::json& doc = report.Document();
  std::ostream& out = report.Out();
  // The parameter exchanges open and close the connection themselves.
  switch (args.command) {
    case Maintenance::kSetVid:
    case Maintenance::kSetPid:
    case Maintenance::kSetString: {
      const bool stored = args.command == Maintenance::kSetString
                              ? SendString(usb, core.clock, args.item, args.text)
                              : SendId(usb, core.clock, args.item, args.text);
      doc["item"] = args.item;
      doc["text"] = args.text;
      doc["stored"] = stored;
      if (!stored) return NotAnswered("the firmware did not confirm that it stored the value");
      out << "stored\n";
      return {};
    }
    case Maintenance::kSettingsGet: {
      SettingsRecord record{};
      if (!ReadSettings(usb, core.clock, record))
        return NotAnswered("the settings could not be read (the firmware did not answer)");
      ShowSettings(report, record);
      return {};
    }
    case Maintenance::kSettingsSet: {
      // Only the named fields change: everything else goes back as the device holds it, so the
      // record must be fresh first.
      SettingsRecord record{};
      if (!ReadSettings(usb, core.clock, record))
        return NotAnswered("the settings could not be read back first; nothing was sent");
      for (const FieldChange& change : args.changes) ApplyChange(record, change);
      if (!WriteSettings(usb, core.clock, record))
        return NotAnswered("the firmware did not confirm the new settings");
      SettingsRecord stored{};
      if (!ReadSettings(usb, core.clock, stored))
        return NotAnswered("the new settings were sent but could not be read back");
      ShowSettings(report, stored);
      return {};
    }
    default:
      break;
  }

  usb.Open();
  CommandResult result;
  switch (args.command) {
    case Maintenance::kRegRead: {
      std::uint8_t value = 0;
      doc["bank"] = args.bank;
      doc["address"] = args.address;
      if (!SelectRegisterBank(usb, args.bank) || !ReadRegister(usb, args.address, &value)) {
        result = NotAnswered("the register could not be read");
        break;
      }
      doc["value"] = value;
      out << Hex2(value) << '\n';
      break;
    }
    case Maintenance::kRegWrite: {
      std::uint8_t value = args.value;
      doc["bank"] = args.bank;
      doc["address"] = args.address;
      doc["written"] = args.value;
      if (!SelectRegisterBank(usb, args.bank) ||
          !WriteAndReadBack(usb, core.clock, args.address, &value, kRegisterReadBackPauseMs)) {
        result = NotAnswered("the register could not be written and read back");
        break;
      }
      doc["readBack"] = value;
      out << Hex2(value) << '\n';
      break;
    }
    case Maintenance::kRegDump: {
      std::array<std::optional<std::uint8_t>, 256> values{};
      doc["bank"] = args.bank;
      if (!SelectRegisterBank(usb, args.bank)) {
        result = NotAnswered("the bank could not be selected; nothing was read");
        break;
      }
      for (std::size_t a = 0; a < values.size(); ++a) {
        std::uint8_t value = 0;
        if (ReadRegister(usb, static_cast<std::uint16_t>(a), &value)) values[a] = value;
      }
      result = Table(report, values, "registers");
      break;
    }
    case Maintenance::kI2cRead:
    case Maintenance::kI2cWrite:
    case Maintenance::kI2cRaw:
    case Maintenance::kI2cDump: {
      doc["slave"] = args.slave;
      // As entering the I2C page does.
      if (!PrepareI2CMaster(usb)) {
        result = NotAnswered("the chip's I2C master could not be prepared");
        break;
      }
      if (args.command == Maintenance::kI2cDump) {
        std::array<std::optional<std::uint8_t>, 256> values{};
        for (std::size_t r = 0; r < values.size(); ++r) {
          std::uint8_t value = 0;
          if (I2CReadRegisters(usb, args.slave, static_cast<std::uint8_t>(r), {&value, 1}))
            values[r] = value;
        }
        result = Table(report, values, "slave registers");
        break;
      }
      if (args.command == Maintenance::kI2cWrite ||
          (args.command == Maintenance::kI2cRaw && args.readCount == 0)) {
        const bool sent = args.command == Maintenance::kI2cWrite
                              ? I2CWriteRegisters(usb, args.slave, args.reg, args.bytes)
                              : I2CWrite(usb, args.slave, args.prefix, args.bytes);
        doc["written"] = args.bytes;
        if (!sent) {
          result = NotAnswered(SlaveSilent(args.slave));
          break;
        }
        out << "written " << args.bytes.size() << (args.bytes.size() == 1 ? " byte" : " bytes")
            << '\n';
        break;
      }
      std::vector<std::uint8_t> bytes(args.command == Maintenance::kI2cRead ? args.count
                                                                            : args.readCount);
      const bool read = args.command == Maintenance::kI2cRead
                            ? I2CReadRegisters(usb, args.slave, args.reg, bytes)
                            : I2CRead(usb, args.slave, args.prefix, bytes);
      if (!read) {
        result = NotAnswered(SlaveSilent(args.slave));
        break;
      }
      doc["bytes"] = bytes;
      out << Joined(bytes) << '\n';
      break;
    }
    case Maintenance::kStatus: {
      PlaybackStatus status;
      if (!ReadPlaybackStatus(usb, status)) {
        result = NotAnswered("the status registers could not be read");
        break;
      }
      const std::string rate(PlaybackRateText(status.RateIndex()));
      const std::string trimmed = rate.substr(std::min(rate.find_first_not_of(' '), rate.size()));
      out << "connection: " << (status.Connected() ? "USB connected" : "USB Disconnected") << '\n';
      doc["connected"] = status.Connected();
      if (status.Connected()) {
        out << "mute: " << (status.Muted() ? "Mute" : "Playing") << '\n';
        doc["muted"] = status.Muted();
        if (!status.Muted()) {
          out << "format: " << (status.DsdInput() ? "DSD" : "PCM") << '\n';
          out << "rate: " << (trimmed.empty() ? "unknown" : trimmed) << '\n';
          doc["format"] = status.DsdInput() ? "DSD" : "PCM";
          doc["rate"] = trimmed.empty() ? nlohmann::json(nullptr) : nlohmann::json(trimmed);
        }
      }
      doc["registers"] = status.registers;
      break;
    }
    case Maintenance::kKey: {
      const bool completed = SendMediaKey(usb, core.clock, args.key->code);
      doc["key"] = std::string(args.key->name);
      doc["completed"] = completed;
      if (!completed) {
        result = NotAnswered("the firmware did not complete the " + std::string(args.key->caption) +
                             " key within 100 ms");
        break;
      }
      out << args.key->caption << ": completed\n";
      break;
    }
    default:
      break;
  }
  usb.Close();
  return result;
}

}  // namespace qv::cli
