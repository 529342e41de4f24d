#include "cli/DevicePorts.h"

namespace qv::cli {

// The device's drivers exist for Windows only; without them this build reaches no real device.
PortsResult RealPorts() {
  return {nullptr,
          "real devices are reached through the device's Windows drivers: use qvtool.exe on "
          "Windows (support through libusb is coming). Use --simulate for the simulated device."};
}

}  // namespace qv::cli
