// param set-vid, set-pid and set-string, and settings get and set: what the device keeps through
// the firmware's parameter mailbox, as the Parameter page stores and reads it. Each exchange
// opens and closes the connection itself. param show: what the device reports in its descriptors
// now, which is what it kept when it was last plugged in.

#include <algorithm>
#include <array>
#include <cctype>

#include "chip/ParameterItems.h"
#include "chip/ParameterRequest.h"
#include "chip/SettingsFields.h"
#include "cli/CommandTable.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

const Question kNewIds{
    .warning =
        "A device with new USB ids is no longer one of the models this tool and its "
        "drivers know: after it restarts they may not find it. Would you like to proceed?"};

// What was stored, for the document; "stored" when the firmware confirmed it.
CommandResult Stored(CommandRun& run, unsigned item, const std::string& text, bool stored) {
  nlohmann::json& document = run.report.Document();
  document["item"] = item;
  document["text"] = text;
  document["stored"] = stored;
  if (!stored) return {kExitFailed, "the firmware did not confirm that it stored the value"};
  run.report.Out() << "stored\n";
  return {};
}

// set-vid, set-pid: four hexadecimal digits.
struct IdParameters {
  std::string text;
};

void DeclareId(CLI::App& command, IdParameters& p) {
  Positional(command, "XXXX", p.text, "four hexadecimal digits");
}

std::optional<std::string> CheckId(const IdParameters& p, const char* what) {
  const bool hex =
      p.text.size() == 4 && std::all_of(p.text.begin(), p.text.end(),
                                        [](unsigned char c) { return std::isxdigit(c) != 0; });
  if (!hex) return std::string(what) + " needs four hexadecimal digits, not '" + p.text + "'";
  return std::nullopt;
}

CommandResult StoreId(CommandRun& run, unsigned item, const std::string& text) {
  CoreState& core = *run.core;
  return Stored(run, item, text, SendId(core.UsbDevice, core.clock, item, text));
}

struct StringParameters {
  std::string indexText, text;
  unsigned item = 0;
};

std::optional<std::string> CheckString(StringParameters& p) {
  const auto index = ParseNumber(p.indexText, 3);
  if (!index || *index == 0) return "set-string needs the string's number, 1, 2 or 3";
  static constexpr std::array<unsigned, 3> kItems = {parameter::kString1, parameter::kString2,
                                                     parameter::kString3};
  p.item = kItems[*index - 1];
  // The device keeps bytes: a character of UTF-8 text may take several.
  if (p.text.size() > kMaxParameterStringLength)
    return "the string holds " + std::to_string(p.text.size()) +
           " bytes; the device keeps at most " + std::to_string(kMaxParameterStringLength);
  if (std::any_of(p.text.begin(), p.text.end(),
                  [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
    return std::string(
        "the string holds a control character (a line end, a tab, ...), which a USB descriptor "
        "cannot show");
  return std::nullopt;
}

CommandResult StoreString(StringParameters& p, CommandRun& run) {
  CoreState& core = *run.core;
  return Stored(run, p.item, p.text, SendString(core.UsbDevice, core.clock, p.item, p.text));
}

// A device's text as a terminal may show it: a control character it sent is written as \xNN, not
// acted on.
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte < 0x20 || byte == 0x7F ? "\\x" + FormatHex(byte, 2) : std::string(1, c);
  }
  return shown;
}

// One value's line and its place in the document: a label for people, a key for the document.
struct DescriptorField {
  const char* label;
  const char* key;
};

CommandResult ShowDescriptors(NoParameters&, CommandRun& run) {
  const ReportedDescriptors reported = run.ports->DescriptorsOf(run.device->path);
  std::ostream& out = run.report.Out();
  nlohmann::json& document = run.report.Document();
  nlohmann::json unread = nlohmann::json::object();
  int failed = 0;
  const auto show = [&](const DescriptorField& field, const std::string& text) {
    out << field.label << ": " << Printable(text) << '\n';
    document[field.key] = text;
  };
  const auto notShown = [&](const DescriptorField& field, const std::string& shown,
                            const std::string& why) {
    out << field.label << ": " << shown << " (" << why << ")\n";
    document[field.key] = nullptr;
    unread[field.key] = why;
  };
  static constexpr DescriptorField kIds[] = {{"vendor id", "vendorId"},
                                             {"product id", "productId"}};
  const std::optional<std::uint16_t> ids[] = {reported.vendorId, reported.productId};
  for (std::size_t i = 0; i < std::size(ids); ++i) {
    if (ids[i]) {
      show(kIds[i], LowerAscii(FormatHex(*ids[i], 4)));
    } else {
      notShown(kIds[i], "unread", reported.idsWhy);
      if (!reported.idsUnavailable) ++failed;
    }
  }
  static constexpr DescriptorField kStrings[] = {
      {"manufacturer", "manufacturer"}, {"product", "product"}, {"serial number", "serialNumber"}};
  for (std::size_t i = 0; i < reported.strings.size(); ++i) {
    const DescriptorString& string = reported.strings[i];
    if (string.text) {
      show(kStrings[i], *string.text);
    } else if (string.absent) {
      notShown(kStrings[i], "none", "the device names no such string");
    } else {
      notShown(kStrings[i], "unread", string.why);
      if (!string.unavailable) ++failed;
    }
  }
  document["unread"] = unread;
  if (failed > 0)
    return {kExitFailed, std::to_string(failed) + (failed == 1 ? " value" : " values") +
                             " could not be read from the device"};
  return {};
}

void ShowSettings(Report& report, const SettingsRecord& record) {
  nlohmann::json fields = nlohmann::json::object();
  for (const SettingsField& field : SettingsFields()) {
    const std::string word(FieldWord(field, record));
    report.Out() << field.name << '=' << word << '\n';
    fields[std::string(field.name)] = word;
  }
  const bool eeprom = EepromPresent(record);
  report.Out() << "eeprom=" << (eeprom ? "present" : "absent") << '\n';
  report.Out() << "record=" << FormatHexBytes(record) << '\n';
  report.Document()["settings"] = fields;
  report.Document()["eeprom"] = eeprom;
  report.Document()["record"] = record;
}

CommandResult GetSettings(NoParameters&, CommandRun& run) {
  CoreState& core = *run.core;
  SettingsRecord record{};
  if (!ReadSettings(core.UsbDevice, core.clock, record))
    return {kExitFailed, "the settings could not be read (the firmware did not answer)"};
  ShowSettings(run.report, record);
  return {};
}

struct SettingsParameters {
  std::vector<std::string> fieldTexts;
  std::vector<FieldChange> changes;
};

std::optional<std::string> CheckSettings(SettingsParameters& p) {
  if (p.fieldTexts.empty()) return "settings set needs at least one FIELD=VALUE";
  for (const std::string& text : p.fieldTexts) {
    std::string error;
    const auto change = ParseFieldChange(text, error);
    if (!change) return error;
    // Which of two values for one field is meant cannot be told.
    for (const FieldChange& earlier : p.changes)
      if (earlier.field == change->field)
        return std::string(change->field->name) + " is given twice; give each field once";
    p.changes.push_back(*change);
  }
  return std::nullopt;
}

CommandResult SetSettings(SettingsParameters& p, CommandRun& run) {
  CoreState& core = *run.core;
  // Only the named fields change: everything else goes back as the device holds it, so the
  // record must be fresh first.
  SettingsRecord record{};
  if (!ReadSettings(core.UsbDevice, core.clock, record))
    return {kExitFailed, "the settings could not be read back first; nothing was sent"};
  for (const FieldChange& change : p.changes) ApplyChange(record, change);
  if (!WriteSettings(core.UsbDevice, core.clock, record))
    return {kExitFailed, "the firmware did not confirm the new settings"};
  SettingsRecord stored{};
  if (!ReadSettings(core.UsbDevice, core.clock, stored))
    return {kExitFailed, "the new settings were sent but could not be read back"};
  ShowSettings(run.report, stored);
  return {};
}

}  // namespace

const CommandFamily& ParameterCommands() {
  static const CommandGroup kGroups[] = {
      {.word = "param", .help = "The USB ids and strings the device keeps and reports"},
      {.word = "settings", .help = "The device's audio settings record"},
  };
  static const Command kCommands[] = {
      CommandRow<IdParameters>{
          .words = "param set-vid",
          .help = "Store a new vendor id (asks first)",
          .declare = DeclareId,
          .check = [](IdParameters& p) { return CheckId(p, "set-vid"); },
          .question = kNewIds,
          .run = [](IdParameters& p,
                    CommandRun& run) { return StoreId(run, parameter::kVendorId, p.text); },
      },
      CommandRow<IdParameters>{
          .words = "param set-pid",
          .help = "Store a new product id (asks first)",
          .declare = DeclareId,
          .check = [](IdParameters& p) { return CheckId(p, "set-pid"); },
          .question = kNewIds,
          .run = [](IdParameters& p,
                    CommandRun& run) { return StoreId(run, parameter::kProductId, p.text); },
      },
      CommandRow<StringParameters>{
          .words = "param set-string",
          .help = "Store string 1 (manufacturer), 2 (model) or 3 (serial number)",
          .declare =
              [](CLI::App& command, StringParameters& p) {
                Positional(command, "N", p.indexText, "1, 2 or 3");
                Positional(
                    command, "TEXT", p.text,
                    "at most 31 bytes, no control characters; a text that starts with - goes "
                    "after --, as in: set-string 1 -- -abc");
              },
          .check = CheckString,
          .question = Question{.warning = "An empty text clears the string the device keeps. "
                                          "Would you like to proceed?"},
          .asksIf = [](const StringParameters& p) { return p.text.empty(); },
          .run = StoreString,
      },
      CommandRow<NoParameters>{
          .words = "param show",
          .help = "Show the USB ids and strings the device reports now (stored ones take effect "
                  "when it is plugged in again)",
          .run = ShowDescriptors,
      },
      CommandRow<NoParameters>{
          .words = "settings get",
          .help = "Read the record back and show it by field",
          .run = GetSettings,
      },
      CommandRow<SettingsParameters>{
          .words = "settings set",
          .help = "Change the named fields only: read back, change, set, read back",
          .declare =
              [](CLI::App& command, SettingsParameters& p) {
                command
                    .add_option(
                        "FIELD=VALUE", p.fieldTexts,
                        "i2s-length=24|32 spdif-length=24|32 i2s-swap=on|off "
                        "dsd-swap=on|off mclk=128|256|512|1024 "
                        "i2s-format=standard|left-justified dsd-out=dsd|dop spdif-out=on|off "
                        "i2s-out=on|off mclk-out=on|off")
                    ->required();
              },
          .check = CheckSettings,
          .run = SetSettings,
      },
  };
  static const CommandFamily kFamily{.groups = kGroups, .commands = kCommands};
  return kFamily;
}

}  // namespace qv::cli
