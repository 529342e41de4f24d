// Ports that write their conversation to a capture as it happens.
#include "cli/DevicePorts.h"
#include "platform/ConversationCapture.h"

namespace qv::cli {
namespace {

class CapturingPorts final : public DevicePorts {
 public:
  CapturingPorts(std::unique_ptr<DevicePorts> inner, StreamedFile& file, const char* kind)
      : inner_(std::move(inner)),
        capture_(inner_->Io(), inner_->Interfaces(),
                 [this](std::string_view path) -> Clock& { return ClockOfDevice(*inner_, path); },
                 file, {.toolVersion = QV_TOOL_VERSION, .port = kind}) {}

  DeviceIo& Io() override { return capture_; }
  DeviceInterfaces& Interfaces() override { return capture_; }
  Clock& DeviceClock() override { return inner_->DeviceClock(); }
  std::string OpenProblem(std::string_view path) override { return inner_->OpenProblem(path); }
  bool WaitForChange(std::chrono::milliseconds most,
                     const std::vector<std::string>& inUse) override {
    return inner_->WaitForChange(most, inUse);
  }
  std::string ClaimKey(std::string_view path) override { return inner_->ClaimKey(path); }
  UnitIdentity IdentityOf(std::string_view path) override { return inner_->IdentityOf(path); }
  // Read past the conversation, as the identity is: a replay of the capture cannot give them.
  ReportedDescriptors DescriptorsOf(std::string_view path) override {
    return inner_->DescriptorsOf(path);
  }
  SimulationView* Simulation() override { return inner_->Simulation(); }

 private:
  std::unique_ptr<DevicePorts> inner_;
  ConversationCapture capture_;
};

}  // namespace

std::unique_ptr<DevicePorts> CapturedPorts(std::unique_ptr<DevicePorts> inner, StreamedFile& file,
                                           const char* kind) {
  return std::make_unique<CapturingPorts>(std::move(inner), file, kind);
}

}  // namespace qv::cli
