#include "cli/Station.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/FirmwareFiles.h"
#include "cli/ProgressBoard.h"
#include "cli/Prompt.h"
#include "cli/UpdateAll.h"
#include "util/AppendedFile.h"
#include "util/Text.h"

namespace qv::cli {
namespace {

// Devices are looked for this often when the ports tell nothing sooner: a person who plugs one
// in and looks at the screen takes a quarter of a second for "at once", and a scan costs the host
// one listing of the interfaces and the devices nothing.
constexpr std::chrono::milliseconds kScanInterval{250};

std::string UtcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// One plugging in of a device: its path, and what tells it from an earlier or a later one at that
// path (a replug, or another device on the same port).
using Unit = std::pair<std::string, std::string>;
Unit UnitOf(const PresentDevice& device) {
  return {device.path, device.arrival};
}

// One device's update under way, on its own thread.
struct Job {
  PresentDevice device;
  UnitIdentity unit;  // read on the job's thread, before the update
  std::string port;
  ProgressRow* row = nullptr;
  Clock* clock = nullptr;  // the device's own, fetched on the station's thread
  DeviceOutcome outcome;
  std::string text;  // its line of the record, made on its thread
  std::atomic<bool> done{false};
  std::jthread thread;
};

class Station {
 public:
  Station(const StationRequest& request, const ToolStreams& streams, Report& report,
          const DeviceModel& model, AppendedFile* record)
      : request_(request),
        streams_(streams),
        report_(report),
        model_(model),
        record_(record),
        // Standard output that carries the record carries nothing else: the text goes to
        // standard error.
        textOnErr_(request.recordToOut && !report.Json()),
        text_(textOnErr_ ? streams.err : report.Out()),
        board_(text_,
               !report.Json() && (textOnErr_ ? streams.errIsTerminal : streams.outIsTerminal) &&
                   streams.outMovesCursor,
               streams.columns, streams.measureColumns),
        checksum_(ImageChecksum(request.image)),
        filePath_(std::filesystem::absolute(request.file).lexically_normal().string()),
        started_(HostClock().Now()) {}

  CommandResult Run() {
    const std::string model(ModelName(model_));
    text_ << "Waiting for " << model << " devices: " << DisplayName(request_.file)
          << ", checksum 0x" << FormatHex(checksum_, 4)
          << (request_.count ? ", " + DeviceCount(*request_.count) : std::string())
          << "; Ctrl-C ends" << std::endl;
    // Present already: not plugged in "from now on". Each is named once, as is every device the
    // station leaves alone.
    const std::vector<const PresentDevice*> chosen = Devices();
    for (const PresentDevice& device : present_) {
      known_[UnitOf(device)] = State::kLeftAlone;
      const bool ours = std::find(chosen.begin(), chosen.end(), &device) != chosen.end();
      text_ << "port " << PortOfPath(device.path) << ": " << device.name << ", "
            << (ours ? "already plugged in when the station started, not updated (plug "
                       "it in again to update it)"
                     : "not updated: " + NotOurs(device))
            << std::endl;
    }
    board_.Start();
    bool stopping = false;
    while (true) {
      Reap();
      TellRecordFailure();
      // A record that stopped taking lines, or an output nobody reads any more, takes no new
      // device: the ones under way finish.
      stopping = stopping || Interrupted() || Counted() || Closed();
      if (stopping && jobs_.empty()) break;
      if (!Interrupted()) Scan();
      // A device whose update has ended is no longer in use: its time passes while it waits to
      // be collected, so that a replug then is seen.
      std::vector<std::string> inUse;
      for (const auto& job : jobs_)
        if (!job->done) inUse.push_back(job->device.path);
      request_.ports.WaitForChange(kScanInterval, inUse);
    }
    return Summary();
  }

 private:
  enum class State { kUpdating, kDone, kLeftAlone };

  // The station's own time: the host's, which a simulation keeps apart from its devices' times.
  Clock& HostClock() const {
    SimulationView* simulation = request_.ports.Simulation();
    return simulation ? simulation->HostClock() : request_.ports.DeviceClock();
  }
  bool Interrupted() const { return request_.interrupts && request_.interrupts->load() > 0; }
  bool Counted() const { return request_.count && started_count_ >= *request_.count; }
  // A record that stopped taking lines, or an output nobody reads any more: no unit starts.
  bool Closed() { return recordFailed_ || outBroken_ || (!report_.Json() && board_.Broken()); }

  std::vector<const PresentDevice*> Devices() {
    present_ = FindPresentDevices(request_.ports.Interfaces());
    return DevicesOfModel(present_, model_, request_.wanted);
  }

  ProgressRow& RowOf(const std::string& port) {
    auto it = rows_.find(port);
    if (it == rows_.end()) it = rows_.emplace(port, &board_.AddRow("port " + port)).first;
    return *it->second;
  }

  // Why the station leaves a device it did not choose alone.
  std::string NotOurs(const PresentDevice& device) const {
    if (request_.wanted) return "--device '" + *request_.wanted + "' does not name it";
    if (!device.useAudioDriver)
      return "in firmware-update mode (--device names such a device to update it)";
    return "another model (the file is for the " + std::string(ModelName(model_)) + ")";
  }

  bool Updating(const std::string& path) const {
    return std::any_of(known_.begin(), known_.end(), [&](const auto& unit) {
      return unit.first.first == path && unit.second == State::kUpdating;
    });
  }

  // Arrivals and removals since the last look. An arrival is a path with what tells its
  // plugging in apart, so that a replug or a swap on one port between two looks is a new unit.
  void Scan() {
    const std::vector<const PresentDevice*> chosen = Devices();
    for (auto it = known_.begin(); it != known_.end();) {
      const bool here = std::any_of(present_.begin(), present_.end(),
                                    [&](const PresentDevice& d) { return UnitOf(d) == it->first; });
      // A device under way that left is told by its update's failure.
      if (here || it->second == State::kUpdating) {
        ++it;
        continue;
      }
      // On a terminal a finished unit's row keeps its result when the unit is pulled out: that is
      // when the technician reads it.
      if (it->second != State::kDone || !board_.Terminal())
        Event(PortOfPath(it->first.first), "left", "waiting");
      it = known_.erase(it);
    }
    for (const PresentDevice& device : present_) {
      // A new unit on a port whose last one is still under way waits for that one to end.
      if (known_.contains(UnitOf(device)) || Updating(device.path)) continue;
      const bool ours = std::find(chosen.begin(), chosen.end(), &device) != chosen.end();
      if (ours && !Counted() && !Closed()) {
        Start(device);
        continue;
      }
      known_[UnitOf(device)] = State::kLeftAlone;
      const std::string why =
          !ours       ? NotOurs(device)
          : Counted() ? "the station has its " + DeviceCount(*request_.count) + " (--count)"
                      : "the station starts no more devices";
      const std::string text = device.name + " plugged in, not updated: " + why;
      Event(PortOfPath(device.path), text, text);
    }
  }

  void Start(const PresentDevice& device) {
    known_[UnitOf(device)] = State::kUpdating;
    ++started_count_;
    auto job = std::make_unique<Job>();
    job->device = device;
    job->port = PortOfPath(device.path);
    job->row = &RowOf(job->port);
    job->clock = &ClockOfDevice(request_.ports, device.path);
    if (request_.trace) request_.trace->Label(device.path, "port " + job->port);
    Event(job->port, device.name + " plugged in", device.name + " plugged in");
    const DeviceUpdateContext context{request_.ports, request_.io, request_.image, request_.force,
                                      request_.interrupts};
    Job& running = *job;
    const bool terminal = board_.Terminal();
    const int columns = board_.RowColumns();
    running.thread = std::jthread([this, context, &running, terminal, columns] {
      running.unit = request_.ports.IdentityOf(running.device.path);
      // The record first: a result the technician saw is a line of the record.
      running.outcome = UpdateOneDevice(
          context, running.device, *running.row, terminal, columns, *running.clock,
          [this, &running](const DeviceOutcome& outcome) { Record(running, outcome); });
      running.done = true;
    });
    jobs_.push_back(std::move(job));
  }

  // The devices whose update has ended: their line of the record, their result on their row.
  void Reap() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
      Job& job = **it;
      if (!job.done) {
        ++it;
        continue;
      }
      job.thread.join();
      const DeviceOutcome& outcome = job.outcome;
      const int exit = outcome.result.exit;
      (exit == kExitSuccess ? updated_ : exit == kExitInterrupted ? stopped_ : failed_)++;
      if (report_.Json() && !request_.recordToOut) {
        streams_.out << job.text << std::endl;
        outBroken_ = outBroken_ || !streams_.out;
      }
      const std::string result =
          ResultText(outcome) + "  " + Seconds(outcome.time) +
          (outcome.result.message.empty()
               ? std::string()
               : (outcome.result.warning ? ": warning: " : ": ") + outcome.result.message);
      Event(job.port, "finished: " + result, result);
      known_[UnitOf(job.device)] = State::kDone;
      it = jobs_.erase(it);
    }
  }

  // A unit's line, on its job's thread: written (and synced) before its row shows the result. The
  // first line the record does not take stops the station from starting more units.
  void Record(Job& job, const DeviceOutcome& outcome) {
    StationRecordLine line;
    line.time = UtcNow();
    line.port = job.port;
    line.path = job.device.path;
    line.unit = job.unit;
    line.arrival = job.device.arrival;
    line.model = job.device.name;
    line.file = DisplayName(request_.file);
    line.filePath = filePath_;
    line.sha256 = request_.fileSha256;
    line.checksum = checksum_;
    line.exit = outcome.result.exit;
    line.message = outcome.result.message;
    if (const Step* failure = TellingFailure(outcome.steps)) line.failure = failure->event;
    line.seconds = SecondsValue(outcome.time);
    job.text = RecordText(line);
    if (!record_ && !request_.recordToOut) return;
    const std::lock_guard lock(recordMutex_);
    if (recordFailed_) {
      ++unrecorded_;
      return;
    }
    if (request_.recordToOut) {
      // Standard output carries nothing else then (the text went to standard error), so no line
      // is spliced into another; only the jobs write to it, one at a time.
      streams_.out << job.text << '\n' << std::flush;
      if (streams_.out) return;
      recordError_ = "cannot write standard output";
    } else {
      if (record_->Append(job.text)) return;
      recordError_ = record_->Error();
    }
    ++unrecorded_;
    recordFailed_ = true;
  }

  // Said at once, on the station's thread, when the record stopped taking lines; the end's
  // message says it again with how many units have no line. Standard error that carries the board
  // (standard output carries the record) gets only that.
  void TellRecordFailure() {
    if (!recordFailed_ || recordTold_ || textOnErr_) return;
    recordTold_ = true;
    std::string error;
    {
      const std::lock_guard lock(recordMutex_);
      error = recordError_;
    }
    Warn("qvtool: --record: " + error + "; no more devices are started, those under way finish");
  }

  // On a terminal the port's row shows `shown`; piped, the event is a line of its own.
  void Event(const std::string& port, const std::string& line, const std::string& shown) {
    ProgressRow& row = RowOf(port);
    if (board_.Terminal()) {
      row.Redraw(shown);
    } else {
      row.Line(line);
    }
  }

  // A warning on standard error: above the board's rows when both share the terminal, so that it
  // never breaks them.
  void Warn(const std::string& text) {
    if (board_.Terminal() && streams_.errIsTerminal)
      board_.Note(text);
    else
      streams_.err << text << std::endl;
  }

  // The totals once: on standard output, or as the message that ends the run (after Ctrl-C). With
  // --json they are the document's own fields, and its error says only what went wrong.
  CommandResult Summary() {
    const auto time = HostClock().Now() - started_;
    const std::string summary =
        "updated " + std::to_string(updated_) + ", failed " + std::to_string(failed_) +
        (stopped_ ? ", stopped " + std::to_string(stopped_) : std::string()) + ", time " +
        Seconds(time);
    nlohmann::json& document = report_.Document();
    document["updated"] = updated_;
    document["failed"] = failed_;
    document["stopped"] = stopped_;
    document["seconds"] = SecondsValue(time);
    const bool json = report_.Json();
    // Devices were flashed whatever the record met: not the usage error's 2, which says that
    // nothing was sent.
    if (recordFailed_) {
      text_ << summary << std::endl;
      return {kExitFailed, "--record: " + recordError_ + "; " + DeviceCount(unrecorded_) +
                               " finished without a line in it; the station stopped there"};
    }
    if (failed_ > 0) {
      text_ << summary << std::endl;
      return {kExitFailed, json ? DeviceCount(failed_) + " failed" : ""};
    }
    if (Interrupted())
      return {kExitInterrupted, "stopped: " + (json ? DeviceCount(stopped_) : summary)};
    text_ << summary << std::endl;
    return {};
  }

  const StationRequest& request_;
  const ToolStreams& streams_;
  Report& report_;
  const DeviceModel& model_;
  AppendedFile* record_;
  bool textOnErr_;
  std::ostream& text_;
  ProgressBoard board_;
  std::uint16_t checksum_;
  std::string filePath_;
  std::chrono::microseconds started_;
  std::vector<PresentDevice> present_;
  std::map<Unit, State> known_;
  std::map<std::string, ProgressRow*> rows_;  // by port
  std::vector<std::unique_ptr<Job>> jobs_;
  std::uint64_t started_count_ = 0;
  std::uint64_t updated_ = 0, failed_ = 0, stopped_ = 0;
  std::mutex recordMutex_;  // the record's lines, from the jobs' threads
  std::string recordError_;
  std::uint64_t unrecorded_ = 0;  // finished units whose line the record did not take
  std::atomic<bool> recordFailed_{false};
  bool recordTold_ = false;
  bool outBroken_ = false;  // standard output no longer takes the JSON lines
};

// A --device that names another model of the table could never match a device the station would
// update: refused at once rather than waited on for ever, as --all refuses it.
std::optional<std::string> NeverNamed(const std::string& wanted, const DeviceModel& model,
                                      const std::string& file) {
  const std::string lower = LowerAscii(wanted);
  const std::string match = LowerAscii(DeviceMatchText(wanted));
  const auto names = [&](const DeviceModel& row) {
    return lower == LowerAscii(ModelName(row)) || match == LowerAscii(FieldText(row.MatchText));
  };
  if (names(model)) return std::nullopt;
  for (const DeviceModel& other : DeviceModelTable()) {
    if (!names(other)) continue;
    return "--device '" + wanted + "' names the " + std::string(ModelName(other)) + ", not the " +
           std::string(ModelName(model)) + " " + DisplayName(file) +
           " is for: no device it names could be updated";
  }
  return std::nullopt;
}

}  // namespace

std::string PortOfPath(const std::string& path) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t hash; (hash = path.find('#', start)) != std::string::npos; start = hash + 1)
    pieces.push_back(path.substr(start, hash - start));
  pieces.push_back(path.substr(start));
  return pieces.size() > 2 ? pieces[2] : path;
}

std::string RecordText(const StationRecordLine& line) {
  // In the order a person reads them, not sorted by name.
  nlohmann::ordered_json json = {{"time", line.time}, {"port", line.port}, {"path", line.path}};
  // Where the port knows them: what tells this unit from the one on the port before it.
  if (!line.unit.serial.empty()) json["serial"] = line.unit.serial;
  if (!line.unit.address.empty()) json["address"] = line.unit.address;
  if (!line.arrival.empty()) json["arrival"] = line.arrival;
  json["model"] = line.model;
  json["file"] = line.file;
  json["filePath"] = line.filePath;
  json["sha256"] = line.sha256;
  json["checksum"] = "0x" + FormatHex(line.checksum, 4);
  json["result"] = ResultWord(line.exit);
  json["exit"] = line.exit;
  json["seconds"] = line.seconds;
  if (!line.message.empty()) json[line.exit == kExitSuccess ? "warning" : "error"] = line.message;
  if (line.failure) {
    json["failure"] = {{"text", line.failure->text}};
    if (line.failure->address) json["failure"]["address"] = *line.failure->address;
    json["failure"]["step"] = FlashStepName(line.failure->step);
  }
  json["toolVersion"] = QV_TOOL_VERSION;
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

CommandResult RunStation(const StationRequest& request, const ToolStreams& streams,
                         Report& report) {
  const DeviceModel* model = nullptr;
  if (auto problem = NoModelNamed("update --watch updates the devices", request.file, model))
    return {kExitUsage, *problem};
  if (request.wanted) {
    if (auto problem = NeverNamed(*request.wanted, *model, request.file))
      return {kExitUsage, *problem};
  }
  if (report.Json()) report.SetOneLine();
  const std::string question =
      "Update every " + std::string(ModelName(*model)) + " plugged in from now on?";
  const Answer answer =
      request.yes ? Answer::kYes
                  : Confirm(streams, report, request.interrupts, kUpdateWarningText, question);
  if (answer == Answer::kStopped) return {kExitInterrupted, kStoppedAtQuestionText};
  if (answer == Answer::kNo) {
    report.Out() << kUpdateAbortedText << ": nothing was sent." << std::endl;
    return {kExitFailed, report.Json() ? kUpdateAbortedText : ""};
  }
  // Opened once the question is answered (its writability was checked before it), before any
  // device: a bench without its record is no bench.
  std::unique_ptr<AppendedFile> record;
  if (!request.recordPath.empty()) {
    record = std::make_unique<AppendedFile>(request.recordPath);
    if (!record->Ready()) return {kExitUsage, "--record: " + record->Error()};
  }
  return Station(request, streams, report, *model, record.get()).Run();
}

}  // namespace qv::cli
