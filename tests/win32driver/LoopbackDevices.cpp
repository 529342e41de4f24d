#include "tests/win32driver/LoopbackDevices.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "platform/DriverRecords.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "tests/win32driver/DriverInstall.h"
#include "tests/win32driver/LoopbackProtocol.h"
#include "util/Text.h"

namespace qv::test {

struct LoopbackDevices::Device {
  sim::SimDevice* sim = nullptr;
  NativeHandle simHandle = kNoHandle;
  LoopbackFaults faults;
  std::string instanceId;
  std::string linkKey;  // "root#vid_e6a4&pid_6000#0000": the instance id as the link holds it
  std::string path;     // as SetupAPI lists it
  std::uint64_t requests = 0;
  bool installed = false;
  std::optional<std::chrono::steady_clock::time_point> leftAt;
};

namespace {

using Clock = std::chrono::steady_clock;

// The driver loads and enables each device's interface while its installation runs; the lists
// catch up within moments even on a loaded machine.
constexpr auto kListTimeout = std::chrono::seconds(10);
constexpr auto kListPoll = std::chrono::milliseconds(20);

std::string HardwareId(const sim::Identity& identity) {
  return identity.presentation == sim::Identity::Presentation::kAudio ? "QvLoopback\\Audio"
                                                                      : "QvLoopback\\Usb";
}

// The device id the real drivers' devices carry: "VID_E5D3&PID_7A01&MI_00" for the audio
// function's first interface, "VID_E6A4&PID_6000" for the update device.
std::string DeviceId(const sim::Identity& identity) {
  std::string id =
      "VID_" + FormatHex(identity.vendorId, 4) + "&PID_" + FormatHex(identity.productId, 4);
  if (identity.presentation == sim::Identity::Presentation::kAudio) id += "&MI_00";
  return id;
}

std::string LinkKey(std::string instanceId) {
  std::replace(instanceId.begin(), instanceId.end(), '\\', '#');
  return LowerAscii(instanceId);
}

// Waits for the interface of `key` to be listed (or, for `listed` false, to be gone); its path,
// or empty.
std::string WaitForInterface(const Guid& interfaceClass, const std::string& key, bool listed) {
  Win32DeviceInterfaces interfaces;
  const auto deadline = Clock::now() + kListTimeout;
  while (true) {
    std::string found;
    if (const auto paths = interfaces.PresentPaths(interfaceClass)) {
      for (const std::string& path : *paths)
        if (LowerAscii(path).find("\\\\?\\" + key + "#") == 0) found = path;
    }
    if (found.empty() != listed || Clock::now() >= deadline) return found;
    Sleep(static_cast<DWORD>(kListPoll.count()));
  }
}

// A server's handle of the driver's control device; empty when it cannot be opened.
OwnedHandle OpenControl() {
  const HANDLE handle = CreateFileA(QVLOOP_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
  return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// One call on the control device, waited for to its end.
bool ControlCall(HANDLE control, DWORD code, const void* input, DWORD inputSize, void* output,
                 DWORD outputSize, DWORD& returned, HANDLE stop) {
  const OwnedHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED overlapped{};
  overlapped.hEvent = done.get();
  returned = 0;
  BOOL ok = DeviceIoControl(control, code, const_cast<void*>(input), inputSize, output, outputSize,
                            &returned, &overlapped);
  if (ok || GetLastError() != ERROR_IO_PENDING) return ok != FALSE;
  const HANDLE events[] = {done.get(), stop};
  if (WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, INFINITE) != WAIT_OBJECT_0)
    CancelIoEx(control, &overlapped);
  return GetOverlappedResult(control, &overlapped, &returned, TRUE) != FALSE;
}

}  // namespace

LoopbackDevices::LoopbackDevices(const std::string& infPath, const std::string& setup,
                                 std::vector<LoopbackFaults> faults) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  if (!parsed.setup) throw std::invalid_argument("simulator setup: " + parsed.error);
  simulation_ = std::make_unique<sim::Simulation>(*parsed.setup);
  sim::SimBus& bus = simulation_->Bus();
  for (std::size_t i = 0; i < bus.DeviceCount(); ++i) {
    auto device = std::make_unique<Device>();
    device->sim = &bus.Device(i);
    device->simHandle = bus.Open(device->sim->InterfacePath().c_str());
    device->faults = i < faults.size() ? faults[i] : LoopbackFaults{};
    const sim::Identity& identity = device->sim->GetIdentity();
    std::string error;
    const auto installed =
        InstallLoopbackDevice(infPath, DeviceId(identity), HardwareId(identity), error);
    if (!installed) throw std::runtime_error("installing " + DeviceId(identity) + ": " + error);
    device->instanceId = installed->instanceId;
    device->linkKey = LinkKey(device->instanceId);
    device->installed = true;
    devices_.push_back(std::move(device));
  }
  for (const auto& device : devices_) {
    device->path = WaitForInterface(device->sim->InterfaceClass(), device->linkKey, true);
    if (device->path.empty())
      throw std::runtime_error("the interface of " + device->instanceId + " was never listed");
  }
  // The driver is loaded with the first device; a setup without devices needs no server.
  if (devices_.empty()) return;
  control_ = OpenControl();
  if (!control_) {
    throw std::runtime_error("cannot open the loopback driver's control device (error " +
                             std::to_string(GetLastError()) + ")");
  }
  stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  server_ = std::thread([this] { Serve(); });
}

LoopbackDevices::~LoopbackDevices() {
  if (server_.joinable()) {
    SetEvent(stop_.get());
    server_.join();
  }
  // Closing the control device fails whatever the driver still holds for a program.
  control_.reset();
  std::lock_guard lock(mutex_);
  for (const auto& device : devices_) Remove(*device);
  for (const auto& device : devices_)
    WaitForInterface(device->sim->InterfaceClass(), device->linkKey, false);
}

std::string LoopbackDevices::InterfacePath(std::size_t device) const {
  return devices_[device]->path;
}

std::string LoopbackDevices::InstanceId(std::size_t device) const {
  return devices_[device]->instanceId;
}

void LoopbackDevices::Unplug(std::size_t device) {
  std::lock_guard lock(mutex_);
  simulation_->Bus().Unplug(*devices_[device]->sim);
  Remove(*devices_[device]);
}

bool LoopbackDevices::Plugged(std::size_t device) const {
  std::lock_guard lock(mutex_);
  return devices_[device]->installed;
}

std::optional<std::chrono::steady_clock::time_point> LoopbackDevices::LeftAt(
    std::size_t device) const {
  std::lock_guard lock(mutex_);
  return devices_[device]->leftAt;
}

std::vector<sim::LoggedRequest> LoopbackDevices::Requests(std::size_t device) const {
  std::lock_guard lock(mutex_);
  return devices_[device]->sim->Log().Entries();
}

std::vector<std::uint8_t> LoopbackDevices::Flash(std::size_t device) const {
  std::lock_guard lock(mutex_);
  const auto contents = devices_[device]->sim->Chip().Flash().Contents();
  return {contents.begin(), contents.end()};
}

void LoopbackDevices::Remove(Device& device) {
  if (!device.installed) return;
  device.installed = false;
  if (!device.leftAt) device.leftAt = Clock::now();
  std::string error;
  // A device that cannot be removed stays to the end of the prefix, which the test removes.
  RemoveLoopbackDevice(device.instanceId, error);
  WaitForInterface(device.sim->InterfaceClass(), device.linkKey, false);
}

LoopbackDevices::Device* LoopbackDevices::DeviceOfLink(const std::uint16_t* link) {
  std::string text;
  for (std::size_t i = 0; i < QVLOOP_MAX_LINK && link[i]; ++i)
    text += static_cast<char>(link[i] < 0x80 ? link[i] : '?');
  text = LowerAscii(text);
  for (const auto& device : devices_)
    if (text.rfind("\\??\\" + device->linkKey + "#", 0) == 0) return device.get();
  return nullptr;
}

void LoopbackDevices::Serve() {
  const auto request = std::make_unique<qvloop_request>();
  const auto reply = std::make_unique<qvloop_answer>();
  while (WaitForSingleObject(stop_.get(), 0) == WAIT_TIMEOUT) {
    DWORD returned = 0;
    if (!ControlCall(control_.get(), QVLOOP_IOCTL_NEXT_REQUEST, nullptr, 0, request.get(),
                     sizeof(qvloop_request), returned, stop_.get()) ||
        returned < QVLOOP_REQUEST_HEADER)
      return;
    *reply = {};
    reply->tag = request->tag;
    std::lock_guard lock(mutex_);
    Answer(*request, *reply);
  }
}

void LoopbackDevices::Answer(const qvloop_request& request, qvloop_answer& reply) {
  Device* device = DeviceOfLink(request.link);
  if (device) {
    if (device->faults.hangAt == ++device->requests) return;  // never answered
    if (device->faults.lostAt == device->requests) {
      // The request stays held, unanswered; the device itself is removed with the others.
      device->leftAt = Clock::now();
      simulation_->Bus().Unplug(*device->sim);
      DWORD returned = 0;
      ControlCall(control_.get(), QVLOOP_IOCTL_LOSE, &request.tag, sizeof(request.tag), nullptr, 0,
                  returned, nullptr);
      WaitForInterface(device->sim->InterfaceClass(), device->linkKey, false);
      return;
    }
    if (device->faults.serverLeavesAt == device->requests) {
      // The next server is there before this one leaves: the driver is never without one.
      control_ = OpenControl();
      return;
    }
    if (device->faults.answeredElsewhereAt == device->requests) {
      const OwnedHandle other = OpenControl();
      if (!other) return;
      DWORD returned = 0;
      ControlCall(other.get(), QVLOOP_IOCTL_ANSWER, &reply,
                  static_cast<DWORD>(QVLOOP_ANSWER_HEADER), nullptr, 0, returned, nullptr);
    }
    // The flash's busy times pass in real time, as the programs wait for them in real time.
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_);
    sim::VirtualClock& clock = device->sim->Clock();
    if (elapsed > clock.Now()) clock.Advance(elapsed - clock.Now());

    const std::span<const std::uint8_t> input(request.data, request.input_length);
    std::vector<std::uint8_t> output(request.data + request.input_length,
                                     request.data + request.input_length + request.output_length);
    const IoResult result =
        simulation_->Bus().Control(device->simHandle, request.code, input, output);
    reply.succeeded = result.ok ? 1 : 0;
    reply.bytes_returned =
        result.ok ? std::min<std::uint32_t>(result.bytesReturned, request.output_length) : 0;
    std::copy_n(output.begin(), reply.bytes_returned, reply.output);
  }
  DWORD returned = 0;
  ControlCall(control_.get(), QVLOOP_IOCTL_ANSWER, &reply,
              static_cast<DWORD>(QVLOOP_ANSWER_HEADER + reply.bytes_returned), nullptr, 0, returned,
              nullptr);
  // A simulated device that left its bus (fail-after) leaves Windows' device list too.
  if (device && !simulation_->Bus().IsPlugged(*device->sim)) Remove(*device);
}

}  // namespace qv::test
