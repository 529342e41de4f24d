#include "tests/libusb/EmulatedUsb.h"

// usbdevice_fs.h needs the ioctl number macros first.
#include <sys/ioctl.h>
// clang-format off
#include <linux/usbdevice_fs.h>
// clang-format on
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <mutex>
#include <stdexcept>

#include "util/Text.h"

namespace qv::test {
namespace {

struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

constexpr std::uint8_t kStandardDeviceIn = 0x80, kGetDescriptor = 0x06;
constexpr std::uint16_t kDeviceDescriptor = 0x0100;
constexpr std::uint8_t kStringDescriptor = 0x03;
constexpr std::size_t kSetupSize = 8;

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += LowerAscii(FormatHex(b, 2));
  return text;
}

// The descriptors file of sysfs: the device descriptor, then one configuration with one
// interface (audio control for an audio product, vendor-specific for the update device).
std::string DescriptorsText(const sim::SimDevice& device) {
  const bool audio = device.GetIdentity().presentation == sim::Identity::Presentation::kAudio;
  const auto descriptor = device.DeviceDescriptor();
  std::vector<std::uint8_t> bytes(descriptor.begin(), descriptor.end());
  const std::uint8_t configuration[] = {9, 0x02, 18, 0, 1, 1, 0, 0x80, 50};
  const std::uint8_t interface[] = {9,    0x04, 0, 0, 0, std::uint8_t(audio ? 0x01 : 0xFF),
                                    0x01, 0,    0};
  bytes.insert(bytes.end(), std::begin(configuration), std::end(configuration));
  bytes.insert(bytes.end(), std::begin(interface), std::end(interface));
  return HexText(bytes);
}

}  // namespace

struct EmulatedUsb::Bed {
  Owned<UMockdevTestbed> testbed{umockdev_testbed_new()};
  std::string root;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  // umockdev answers every node on one thread of its own; the test's thread reads the logs.
  std::mutex mutex;
};

struct EmulatedUsb::Device {
  Device(Bed& bed, sim::Simulation& simulation, sim::SimDevice& device, std::uint8_t port,
         LinkFaults faults)
      : bed(bed), simulation(simulation), device(device), faults(faults) {
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/001/%03u", unsigned(port) + 1);
    node = text;
    syspath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
  }

  Bed& bed;
  sim::Simulation& simulation;
  sim::SimDevice& device;
  LinkFaults faults;
  std::string node;
  std::string syspath;
  std::string description;  // what umockdev adds for it
  Owned<UMockdevIoctlBase> handler{umockdev_ioctl_base_new()};
  bool plugged = true;
  std::uint64_t transfers = 0;
  std::vector<SeenTransfer> seen;
  std::deque<UMockdevIoctlData*> completed;  // URBs to reap, each holding a reference
  std::vector<UMockdevIoctlData*> hung;      // URBs that never complete unless discarded

  ~Device() {
    for (UMockdevIoctlData* urb : completed) g_object_unref(urb);
    for (UMockdevIoctlData* urb : hung) g_object_unref(urb);
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Device*>(self)->Ioctl(client);
  }

  gboolean Ioctl(UMockdevIoctlClient* client) {
    std::lock_guard lock(bed.mutex);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
      case USBDEVFS_GET_CAPABILITIES: {
        Owned<UMockdevIoctlData> caps(
            umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr));
        *reinterpret_cast<guint32*>(caps->data) =
            USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
            USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_SUBMITURB:
        Submit(client, arg);
        return TRUE;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        Reap(client, arg);
        return TRUE;
      case USBDEVFS_DISCARDURB:
        Discard(client, arg);
        return TRUE;
      default:
        std::fprintf(stderr, "emulated usbfs: ioctl 0x%lx on %s not emulated\n",
                     umockdev_ioctl_client_get_request(client), node.c_str());
        return FALSE;
    }
  }

  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (!plugged) return umockdev_ioctl_client_complete(client, -1, ENODEV);
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->endpoint != 0 ||
        urb->buffer_length < int(kSetupSize)) {
      g_object_unref(urbData);
      return umockdev_ioctl_client_complete(client, -1, EINVAL);
    }
    Owned<UMockdevIoctlData> buffer(umockdev_ioctl_data_resolve(
        urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), std::size_t(urb->buffer_length), nullptr));
    std::span<std::uint8_t> bytes(buffer->data, std::size_t(urb->buffer_length));
    SeenTransfer transfer;
    transfer.requestType = bytes[0];
    transfer.request = bytes[1];
    transfer.value = std::uint16_t(bytes[2] | bytes[3] << 8);
    transfer.index = std::uint16_t(bytes[4] | bytes[5] << 8);
    transfer.length = std::uint16_t(bytes[6] | bytes[7] << 8);
    if (kSetupSize + transfer.length != bytes.size()) {
      g_object_unref(urbData);
      return umockdev_ioctl_client_complete(client, -1, EINVAL);
    }
    const std::uint64_t number = ++transfers;
    if (faults.hangAt == number) {
      hung.push_back(urbData);
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    std::uint32_t actual = 0;
    transfer.status = Answer(transfer, bytes.subspan(kSetupSize), number, actual);
    const bool in = (transfer.requestType & 0x80) != 0;
    if (in || transfer.status == 0) {
      const auto stage = bytes.subspan(kSetupSize, in ? actual : transfer.length);
      transfer.data.assign(stage.begin(), stage.end());
    }
    seen.push_back(transfer);
    urb->status = transfer.status;
    urb->actual_length = int(actual);
    completed.push_back(urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    // The answered transfer stays to be reaped, as the kernel's reap after a disconnect allows.
    if (device.ShouldLeaveBus()) Unplug();
  }

  // The device's answer to one transfer: 0 or the negative errno of its URB.
  int Answer(const SeenTransfer& transfer, std::span<std::uint8_t> stage, std::uint64_t number,
             std::uint32_t& actual) {
    // The flash's busy times pass in real time, as the tool waits for them in real time.
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - bed.start);
    sim::VirtualClock& clock = device.Clock();
    if (elapsed > clock.Now()) clock.Advance(elapsed - clock.Now());

    if (faults.stallFrom && number >= *faults.stallFrom) return -EPIPE;
    if (!device.AdmitRequest()) return -EPIPE;
    drivers::DecodedRequest request;
    request.requestType = transfer.requestType;
    request.deviceToHost = (transfer.requestType & 0x80) != 0;
    request.request = transfer.request;
    request.value = transfer.value;
    request.index = transfer.index;
    request.length = transfer.length;
    if (!request.deviceToHost) request.outData = stage;
    if (transfer.requestType == kStandardDeviceIn && transfer.request == kGetDescriptor) {
      std::vector<std::uint8_t> descriptor;
      if (transfer.value == kDeviceDescriptor) {
        const auto bytes = device.DeviceDescriptor();
        descriptor.assign(bytes.begin(), bytes.end());
      } else if (transfer.value >> 8 == kStringDescriptor) {
        // The chip answers its strings as the simulated device reports them.
        descriptor = device.StringDescriptor(static_cast<std::uint8_t>(transfer.value & 0xFF));
      }
      if (descriptor.empty()) return -EPIPE;
      actual = std::min<std::uint32_t>(transfer.length, descriptor.size());
      std::copy_n(descriptor.begin(), actual, stage.begin());
      return 0;
    }
    // What the chip refuses, it stalls.
    if (!device.Chip().Control(request, stage)) return -EPIPE;
    actual = transfer.length;
    if (request.deviceToHost && faults.shortAt == number && actual > 0) --actual;
    return 0;
  }

  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (completed.empty())
      return umockdev_ioctl_client_complete(client, -1, plugged ? EAGAIN : ENODEV);
    UMockdevIoctlData* urb = completed.front();
    completed.pop_front();
    Owned<UMockdevIoctlData> pointer(
        umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr));
    umockdev_ioctl_data_set_ptr(pointer.get(), 0, urb);
    g_object_unref(urb);
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  // A URB the caller gave up on (libusb's timeout) completes as cancelled.
  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    const gulong address = *reinterpret_cast<gulong*>(arg->data);
    for (auto it = hung.begin(); it != hung.end(); ++it) {
      if ((*it)->client_addr != address) continue;
      auto* urb = reinterpret_cast<usbdevfs_urb*>((*it)->data);
      urb->status = -ENOENT;
      urb->actual_length = 0;
      completed.push_back(*it);
      hung.erase(it);
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
  }

  void Unplug() {
    if (!plugged) return;
    plugged = false;
    umockdev_testbed_uevent(bed.testbed.get(), syspath.c_str(), "remove");
    umockdev_testbed_remove_device(bed.testbed.get(), syspath.c_str());
  }

  void Add() {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed.testbed.get(), description.c_str(), &error))
      throw std::runtime_error(std::string("umockdev: ") + (error ? error->message : "add"));
    plugged = true;
  }
};

EmulatedUsb::EmulatedUsb(const std::string& setup, std::vector<LinkFaults> faults)
    : bed_(std::make_unique<Bed>()) {
  const sim::SimSetupResult parsed = sim::ParseSimSetup(setup);
  if (!parsed.setup) throw std::invalid_argument("simulator setup: " + parsed.error);
  simulation_ = std::make_unique<sim::Simulation>(*parsed.setup);
  gchar* root = umockdev_testbed_get_root_dir(bed_->testbed.get());
  bed_->root = root;
  g_free(root);
  sim::SimBus& bus = simulation_->Bus();
  for (std::size_t i = 0; i < bus.DeviceCount(); ++i) {
    sim::SimDevice& device = bus.Device(i);
    const auto port = static_cast<std::uint8_t>(i + 1);
    auto emulated = std::make_unique<Device>(*bed_, *simulation_, device, port,
                                             i < faults.size() ? faults[i] : LinkFaults{});
    g_signal_connect(emulated->handler.get(), "handle-ioctl", G_CALLBACK(Device::OnIoctl),
                     emulated.get());
    // The handler first, so that the node answers as soon as the device is announced.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(bed_->testbed.get(), emulated->node.c_str(),
                                       emulated->handler.get(), &error))
      throw std::runtime_error(std::string("umockdev: ") + (error ? error->message : "attach"));
    const auto& identity = device.GetIdentity();
    const std::string address = emulated->node.substr(emulated->node.size() - 3);
    emulated->description =
        "P: " + emulated->syspath.substr(4) + "\n" + "N: " + emulated->node.substr(5) + "\n" +
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\n" +
        "E: DEVNUM=" + address + "\nE: DEVNAME=" + emulated->node + "\n" +
        "A: busnum=1\\n\nA: devnum=" + std::to_string(port + 1) + "\\n\n" +
        "A: speed=480\\n\nA: bConfigurationValue=1\\n\n" +
        "A: idVendor=" + LowerAscii(FormatHex(identity.vendorId, 4)) + "\\n\n" +
        "A: idProduct=" + LowerAscii(FormatHex(identity.productId, 4)) + "\\n\n" +
        "H: descriptors=" + DescriptorsText(device) + "\n";
    emulated->Add();
    devices_.push_back(std::move(emulated));
  }
}

EmulatedUsb::~EmulatedUsb() {
  for (const auto& device : devices_)
    umockdev_testbed_detach_ioctl(bed_->testbed.get(), device->node.c_str(), nullptr);
  bed_->testbed.reset();
}

std::size_t EmulatedUsb::DeviceCount() const {
  return devices_.size();
}

void EmulatedUsb::Unplug(std::size_t device) {
  std::lock_guard lock(bed_->mutex);
  devices_[device]->Unplug();
}

void EmulatedUsb::Replug(std::size_t device) {
  std::lock_guard lock(bed_->mutex);
  Device& emulated = *devices_[device];
  if (emulated.plugged) return;
  emulated.Add();
  umockdev_testbed_uevent(bed_->testbed.get(), emulated.syspath.c_str(), "add");
}

bool EmulatedUsb::Plugged(std::size_t device) const {
  std::lock_guard lock(bed_->mutex);
  return devices_[device]->plugged;
}

std::vector<SeenTransfer> EmulatedUsb::Transfers(std::size_t device) const {
  std::lock_guard lock(bed_->mutex);
  return devices_[device]->seen;
}

std::string EmulatedUsb::Node(std::size_t device) const {
  return devices_[device]->node;
}

void EmulatedUsb::DenyAccess(std::size_t device) {
  const std::string& node = devices_[device]->node;
  chmod((bed_->root + node).c_str(), 0);
  if (geteuid() != 0) return;
  // The user who runs the tool must reach the test bed (its udev monitor binds a socket in it)
  // and connect to the node's ioctl socket, to be refused at the node itself.
  chmod(bed_->root.c_str(), 0777);
  chmod((bed_->root + "/ioctl" + node).c_str(), 0777);
}

std::string EmulatedUsb::ToolUserPrefix() {
  return geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

}  // namespace qv::test
