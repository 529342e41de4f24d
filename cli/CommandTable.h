#pragma once

#include <CLI/CLI.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "cli/DevicePorts.h"
#include "cli/DeviceSelection.h"
#include "cli/QvTool.h"
#include "cli/Report.h"
#include "cli/RequestTrace.h"
#include "flash/CoreState.h"

// qvtool's commands as a table: one row per command, made from the command's own parameters and
// what is done with them. The parser is built from the rows, and one sequence runs every command
// (QvTool.cpp): parse, find the row, check, ports and trace, the device when the row needs one,
// ask, run, report.
namespace qv::cli {

// The options every command shares; a command's own options are its parameters'.
struct GlobalOptions {
  std::optional<std::string> simulate;  // the setup after --simulate= ("" for --simulate alone)
  std::optional<std::string> device;    // --device
  bool yes = false;
  bool force = false;
  bool verbose = false;
  bool json = false;
  std::string logPath;
  std::string capturePath;  // --capture
};

// What a command needs before its body runs.
enum class Needs {
  kNothing,  // no ports: it works on files and the tool's own tables
  kPorts,    // the ports, the present devices and the request trace: it picks devices itself
  kDevice,   // one device, selected (by --device when several are present) and probed
};

// A file a command names, for the checks made before anything is sent: no two of them one file
// on disk, and every file to be written writable.
struct NamedFile {
  enum class Use {
    kRead,
    kWritten,   // replaced as a whole
    kAppended,  // kept, and lines added to it; the messages name it after the trace's --log
  };
  std::string path;
  const char* as;  // "FILE", "--backup": how the messages name it
  Use use = Use::kRead;
};

// What the user is asked before the command changes the device (unless --yes), and what a "no"
// leaves: its line on standard output and the JSON document's error.
struct Question {
  std::string warning;
  std::string declined = "Not confirmed: nothing was sent.";
  std::string error = "not confirmed";
  bool declinedAsStep = false;  // the line is shown as a failed step of the progress
  bool namesDevice = false;     // "Device: ..." comes first, with --yes too
};

// Everything a command's body may use. What the row does not need stays unset.
struct CommandRun {
  Report& report;
  const ToolStreams& streams;
  const GlobalOptions& options;
  const std::atomic<int>* interrupts = nullptr;
  // Needs::kPorts and kDevice:
  DevicePorts* ports = nullptr;
  DeviceIo* io = nullptr;         // the ports' own, or the request trace over them
  RequestTrace* trace = nullptr;  // when io is the trace
  CoreState* core = nullptr;      // on io
  const std::vector<PresentDevice>* present = nullptr;
  // Needs::kDevice: the selected device, which answered its probe.
  const PresentDevice* device = nullptr;

  bool Simulated() const { return ports && ports->Simulation(); }
};

// A parameter that names a file, and how the command uses the file.
template <typename P>
struct FileParameter {
  std::string P::*path;
  const char* as;  // "FILE", "--backup": how the messages name it
  NamedFile::Use use = NamedFile::Use::kRead;
};

// One row of the table, over the command's own parameters `P` (a plain struct, made fresh for
// each run). Everything but `words`, `help` and `run` may be left out.
template <typename P>
struct CommandRow {
  std::string_view words;  // "update", "reg read": a group's word first
  std::string_view help;
  Needs needs = Needs::kDevice;
  // True when the command, as given, picks its devices itself and needs only the ports.
  bool (*picksDevices)(const P&) = nullptr;
  // Declares the command's options and positionals into its parameters.
  void (*declare)(CLI::App&, P&) = nullptr;
  // The usage checks before anything is sent: why the parameters cannot be used.
  std::optional<std::string> (*check)(P&) = nullptr;
  // The files among the parameters, each checked when it is given.
  std::vector<FileParameter<P>> files = {};
  // Reads the files the command takes, once every file named passed its checks; why not, if not.
  std::optional<std::string> (*load)(P&, Report&) = nullptr;
  // A file whose name, when it carries a model's, must carry the selected device's model
  // (unless --force); checked before the device is probed.
  std::string P::*forTheDevicesModel = nullptr;
  // Asked before the command changes the device (unless --yes): always, or only when `asksIf`
  // holds.
  std::optional<Question> question = std::nullopt;
  bool (*asksIf)(const P&) = nullptr;
  CommandResult (*run)(P&, CommandRun&) = nullptr;
};

// For the rows of commands without parameters.
struct NoParameters {};

// One run's parameters of a command, with its row's functions over them.
class GivenCommand {
 public:
  virtual ~GivenCommand() = default;
  virtual Needs Need() const = 0;
  virtual std::optional<std::string> Check() = 0;
  virtual std::vector<NamedFile> Files() const = 0;
  virtual std::optional<std::string> Load(Report& report) = 0;
  // The file that must be for the selected device's model, if the command has one.
  virtual const std::string* FileForTheModel() const = 0;
  virtual std::optional<Question> Ask() const = 0;
  virtual CommandResult Run(CommandRun& run) = 0;
};

// A row of the table, whatever its parameters.
class Command {
 public:
  template <typename P>
  Command(const CommandRow<P>& row)  // implicit: the table lists rows as they are written
      : words(row.words), help(row.help), declare_([row](CLI::App& app) {
          return std::unique_ptr<GivenCommand>(std::make_unique<Given<P>>(row, app));
        }) {}

  // Fresh parameters, declared into the command's place in the parser.
  std::unique_ptr<GivenCommand> Declare(CLI::App& app) const { return declare_(app); }

  std::string_view words;
  std::string_view help;

 private:
  template <typename P>
  class Given final : public GivenCommand {
   public:
    Given(const CommandRow<P>& row, CLI::App& app) : row_(row) {
      if (row_.declare) row_.declare(app, parameters_);
    }
    Needs Need() const override {
      return row_.picksDevices && row_.picksDevices(parameters_) ? Needs::kPorts : row_.needs;
    }
    std::optional<std::string> Check() override {
      return row_.check ? row_.check(parameters_) : std::nullopt;
    }
    std::vector<NamedFile> Files() const override {
      std::vector<NamedFile> named;
      for (const FileParameter<P>& file : row_.files) {
        const std::string& path = parameters_.*file.path;
        if (!path.empty()) named.push_back({path, file.as, file.use});
      }
      return named;
    }
    std::optional<std::string> Load(Report& report) override {
      return row_.load ? row_.load(parameters_, report) : std::nullopt;
    }
    const std::string* FileForTheModel() const override {
      return row_.forTheDevicesModel ? &(parameters_.*row_.forTheDevicesModel) : nullptr;
    }
    std::optional<Question> Ask() const override {
      if (row_.asksIf && !row_.asksIf(parameters_)) return std::nullopt;
      return row_.question;
    }
    CommandResult Run(CommandRun& run) override { return row_.run(parameters_, run); }

   private:
    CommandRow<P> row_;
    P parameters_;
  };

  std::function<std::unique_ptr<GivenCommand>(CLI::App&)> declare_;
};

// A word that groups commands ("reg"), with its help.
struct CommandGroup {
  std::string_view word;
  std::string_view help;
};

// The rows of one family, each family in a file of its own.
struct CommandFamily {
  std::span<const CommandGroup> groups;
  std::span<const Command> commands;
};
const CommandFamily& FlashCommands();      // FlashCommands.cpp
const CommandFamily& InfoCommands();       // InfoCommands.cpp
const CommandFamily& RegisterCommands();   // RegisterCommands.cpp
const CommandFamily& I2cCommands();        // I2cCommands.cpp
const CommandFamily& ParameterCommands();  // ParameterCommands.cpp
const CommandFamily& StatusCommands();     // StatusCommands.cpp

// Every row, in the order the help lists them, and every group.
std::vector<const Command*> AllCommands();
std::vector<const CommandGroup*> AllGroups();

// A positional of a command, required unless said otherwise.
inline void Positional(CLI::App& command, const char* name, std::string& into, const char* help,
                       bool required = true) {
  CLI::Option* option = command.add_option(name, into, help);
  if (required) option->required();
}

}  // namespace qv::cli
