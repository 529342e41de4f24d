#include "cli/QvTool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iomanip>
#include <memory>
#include <optional>
#include <span>
#include <sstream>

#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/RequestTrace.h"
#include "flash/FlashOperations.h"
#include "image/BinLoader.h"
#include "image/HexLoader.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// Flash addresses are 24 bits wide.
constexpr std::uint64_t kMaxFlashSize = 0x1000000;

struct Options {
  std::string simulate;
  std::string device;
  bool yes = false;
  bool verbose = false;
  std::string file;
  std::string size;
  std::string outPath;
  std::string format = "text";
};

struct Parsed {
  std::unique_ptr<CLI::App> app;
  CLI::Option* simulate = nullptr;
  CLI::Option* device = nullptr;
  CLI::App* list = nullptr;
  CLI::App* update = nullptr;
  CLI::App* read = nullptr;
  CLI::App* verify = nullptr;
  CLI::App* blankCheck = nullptr;
  CLI::App* erase = nullptr;
  CLI::App* chipId = nullptr;
  CLI::App* version = nullptr;
};

Parsed BuildParser(Options& o) {
  Parsed p;
  p.app = std::make_unique<CLI::App>(
      "Firmware update and maintenance of USB audio devices with the QV5230 bridge chip.",
      "qvtool");
  CLI::App& app = *p.app;
  app.set_version_flag("--version", std::string("qvtool ") + QV_TOOL_VERSION);
  app.require_subcommand(1);
  // Global options are accepted after the command too; subcommands inherit this.
  app.fallthrough();
  p.simulate = app.add_option("--simulate", o.simulate,
                              "Use the simulated device, set up by the optional =SETUP: "
                              "key=value pairs separated by ; (for example "
                              "--simulate='model=Brevanto_RX1;flash-file=flash.bin')")
                   ->expected(0, 1)
                   ->type_name("SETUP");
  p.device = app.add_option("--device", o.device,
                            "The device to use: a match text (vid_e5d3&pid_7a01), VID:PID "
                            "(e5d3:7a01) or any part of its interface path")
                 ->type_name("MATCH");
  app.add_flag("-y,--yes", o.yes, "Update without asking for confirmation");
  app.add_flag("-v,--verbose", o.verbose, "Log each device request to standard error");
  app.footer(
      "Exit codes: 0 success, 1 the operation failed on the device (or the update was not "
      "confirmed), 2 usage or file error, 3 no device.");

  p.list = app.add_subcommand("list", "List the present devices");
  p.update = app.add_subcommand(
      "update",
      "Update the firmware: ISP mode, erase, blank check, program and verify (up to "
      "three attempts), protect");
  p.update->add_option("FILE", o.file, "Firmware file: Intel HEX (.hex) or binary")->required();
  p.read = app.add_subcommand("read", "Read the flash back, every block twice");
  p.read->add_option("--size", o.size, "Bytes to read from address 0 (default 0x8000)")
      ->type_name("N");
  p.read->add_option("--out", o.outPath, "Write to this file instead of standard output")
      ->type_name("FILE");
  p.read
      ->add_option("--format", o.format,
                   "text: lines of sixteen 0xNN entries, each line ended by a carriage return; "
                   "bin: the raw bytes")
      ->check(CLI::IsMember({"text", "bin"}))
      ->type_name("FORMAT");
  p.verify = app.add_subcommand("verify", "Compare the flash with a firmware file");
  p.verify->add_option("FILE", o.file, "Firmware file: Intel HEX (.hex) or binary")->required();
  p.blankCheck = app.add_subcommand("blank-check", "Check that the flash is erased");
  p.blankCheck->add_option("--size", o.size, "Bytes to check from address 0 (default 0x40000)")
      ->type_name("N");
  p.erase = app.add_subcommand("erase", "Erase the whole flash and protect it again");
  p.chipId = app.add_subcommand("chip-id", "Show the flash chip's identification");
  p.version = app.add_subcommand("version", "Show the device's firmware version");
  return p;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Decimal, or hexadecimal after 0x.
std::optional<std::uint32_t> ParseSize(const std::string& text) {
  const bool hex = text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"));
  const auto value =
      ParseUnsigned(hex ? std::string_view(text).substr(2) : text, hex ? 16 : 10, kMaxFlashSize);
  if (!value || *value == 0) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

// The loader by extension; an image without a byte to program is no firmware either.
LoadResult LoadFirmware(FlashImage& image, const std::string& path) {
  const std::filesystem::path file(path);
  LoadResult result = Lower(file.extension().string()) == ".hex" ? LoadHexImage(image, file)
                                                                 : LoadBinImage(image, file);
  if (result && image.Length == 0) {
    result = LoadResult::Failure("the file holds no data to program");
    result.FileName = DisplayName(file);
  }
  return result;
}

// Asks the window's warning question; only a terminal can answer it.
bool Confirm(const ToolStreams& streams) {
  streams.out << "Warning: " << kUpdateWarningText << "\nProceed? [y/N] " << std::flush;
  if (!streams.inIsTerminal) {
    streams.out << "\n(standard input is not a terminal: no; pass --yes to update without "
                   "asking)\n";
    return false;
  }
  std::string answer;
  std::getline(streams.in, answer);
  answer = Lower(answer);
  return answer == "y" || answer == "yes";
}

std::string Seconds(std::chrono::microseconds time) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << static_cast<double>(time.count()) / 1e6 << " s";
  return text.str();
}

int Fail(const ToolStreams& streams, int code, const std::string& message) {
  streams.err << "qvtool: " << message << '\n';
  return code;
}

int ListDevices(QuorvexUsb& usb, const std::vector<PresentDevice>& present,
                const ToolStreams& streams) {
  if (present.empty()) {
    streams.out << "No device found.\n";
    return kExitNoDevice;
  }
  for (const PresentDevice& device : present) {
    const bool answered = ProbePresentDevice(usb, device);
    streams.out << DescribeDevice(device) << (answered ? "" : "  (does not answer)") << '\n';
  }
  return kExitSuccess;
}

class Tool {
 public:
  Tool(Parsed& parsed, Options& options, const ToolStreams& streams)
      : p_(parsed), o_(options), streams_(streams) {}

  int Run() {
    CLI::App* command = p_.app->get_subcommands().front();
    const bool needsFile = command == p_.update || command == p_.verify;
    const bool dumpToStdout = command == p_.read && o_.outPath.empty();

    // Everything the user can get wrong is reported before anything is sent.
    std::optional<std::uint32_t> size;
    if (!o_.size.empty() && !(size = ParseSize(o_.size)))
      return Fail(streams_, kExitUsage,
                  "--size needs a number of bytes from 1 to 0x1000000 (decimal, or hex after 0x)");
    auto image = std::make_unique<FlashImage>();
    if (needsFile) {
      const LoadResult loaded = LoadFirmware(*image, o_.file);
      if (!loaded) return Fail(streams_, kExitUsage, loaded.Message());
    }

    PortsResult ports = p_.simulate->count() ? SimulatedPorts(o_.simulate) : RealPorts();
    if (!ports.ports)
      return Fail(streams_, p_.simulate->count() ? kExitUsage : kExitNoDevice, ports.error);
    std::optional<RequestTrace> trace;
    if (o_.verbose) trace.emplace(ports.ports->Io(), streams_.err);
    DeviceIo& io = trace ? static_cast<DeviceIo&>(*trace) : ports.ports->Io();
    CoreState core(io, ports.ports->Interfaces(), ports.ports->DeviceClock());

    const auto present = FindPresentDevices(ports.ports->Interfaces());
    if (command == p_.list) return ListDevices(core.UsbDevice, present, streams_);

    const std::optional<std::string> match =
        p_.device->count() ? std::optional(DeviceMatchText(o_.device)) : std::nullopt;
    const Selection selection = SelectDevice(present, match);
    if (!selection.device)
      return Fail(streams_, selection.ambiguous ? kExitUsage : kExitNoDevice, selection.message);
    if (!ProbePresentDevice(core.UsbDevice, *selection.device))
      return Fail(streams_, kExitNoDevice,
                  "the device does not answer: " + DescribeDevice(*selection.device));
    core.FlashImage = *image;
    // Opened only now, so that a run without a device leaves an earlier dump as it was.
    std::ofstream dumpFile;
    if (command == p_.read && !dumpToStdout) {
      dumpFile.open(o_.outPath, std::ios::binary | std::ios::trunc);
      if (!dumpFile) return Fail(streams_, kExitUsage, "cannot write '" + o_.outPath + "'");
    }

    std::ostream& report = dumpToStdout ? streams_.err : streams_.out;
    const bool reportIsTerminal = dumpToStdout ? streams_.errIsTerminal : streams_.outIsTerminal;
    const auto started = ports.ports->ModelledTime();
    int code = kExitSuccess;
    {
      ProgressBar progress(report, reportIsTerminal);
      code = RunCommand(command, *selection.device, core, progress, dumpFile, size);
    }
    const auto finished = ports.ports->ModelledTime();
    if (flashWork_ && started && finished)
      report << "modelled device time " << Seconds(*finished - *started) << '\n';
    return code;
  }

 private:
  int RunCommand(CLI::App* command, const PresentDevice& device, CoreState& core,
                 ProgressBar& progress, std::ofstream& dumpFile,
                 std::optional<std::uint32_t> size) {
    const auto result = [](bool ok) { return ok ? kExitSuccess : kExitFailed; };
    if (command == p_.chipId) return result(ShowChipId(core, streams_.out));
    if (command == p_.version) return result(ShowFirmwareVersion(core, streams_.out));
    if (command == p_.update) {
      streams_.out << "Device: " << DescribeDevice(device) << '\n';
      if (!o_.yes && !Confirm(streams_)) {
        progress.Status(kUpdateAbortedText, UpdateProgress::Style::kFailure);
        return kExitFailed;
      }
    }
    flashWork_ = true;
    if (command == p_.update) return result(UpdateFirmware(core, progress));
    if (command == p_.verify) return result(VerifyFlash(core, progress));
    if (command == p_.blankCheck)
      return result(BlankCheckFlash(core, progress, size.value_or(kFlashImageSize)));
    if (command == p_.erase) return result(EraseWholeFlash(core, progress));
    return ReadBack(core, progress, dumpFile, size.value_or(kReadBackSize));
  }

  int ReadBack(CoreState& core, ProgressBar& progress, std::ofstream& dumpFile,
               std::uint32_t size) {
    const bool text = o_.format == "text";
    // The text dump is made of whole lines of sixteen bytes.
    if (text) size = std::min<std::uint32_t>((size + 15) / 16 * 16, kMaxFlashSize);
    const bool read = ReadBackFlash(core, progress, size);
    progress.Finish();
    // As the window does, the dump is written whatever the result: it shows where reads failed.
    const std::span<const std::uint8_t> bytes(core.ReadBackBuffer.data(), size);
    std::ostream& out = dumpFile.is_open() ? static_cast<std::ostream&>(dumpFile) : streams_.out;
    if (text) {
      std::string dump = FormatReadBackDump(bytes, size);
      // Lines ended by a bare carriage return would overwrite each other on a terminal.
      if (!dumpFile.is_open() && streams_.outIsTerminal)
        std::replace(dump.begin(), dump.end(), '\r', '\n');
      out << dump;
    } else {
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    out.flush();
    if (!out) return Fail(streams_, kExitUsage, "cannot write the read-back data");
    return read ? kExitSuccess : kExitFailed;
  }

  Parsed& p_;
  Options& o_;
  const ToolStreams& streams_;
  bool flashWork_ = false;  // a flash operation ran: its modelled time is worth showing
};

}  // namespace

int RunQvTool(const std::vector<std::string>& args, const ToolStreams& streams) {
  Options options;
  Parsed parsed = BuildParser(options);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    parsed.app->parse(reversed);
  } catch (const CLI::ParseError& error) {
    // Help and --version end here too, with status 0.
    return parsed.app->exit(error, streams.out, streams.err) == 0 ? kExitSuccess : kExitUsage;
  }
  return Tool(parsed, options, streams).Run();
}

}  // namespace qv::cli
