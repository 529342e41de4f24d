#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/SimSetup.h"
#include "transport/QuorvexUsb.h"

namespace qv::test {

// The setup of a test's simulated device; a bad text fails the test.
inline sim::SimSetup ParseSetupOrFail(const std::string& text) {
  auto result = sim::ParseSimSetup(text);
  if (!result.setup) ADD_FAILURE() << "bad simulator setup: " << result.error;
  return result.setup.value_or(sim::SimSetup{});
}

// A simulated bus from a setup text and the connection the tool would hold over it.
class SimFixture : public ::testing::Test {
 protected:
  explicit SimFixture(const std::string& setup = "")
      : sim_(ParseSetupOrFail(setup)), usb_(bus(), bus()) {}

  sim::SimBus& bus() { return sim_.Bus(); }
  sim::BusClock& clock() { return sim_.Clock(); }
  sim::SimDevice& device(std::size_t i = 0) { return bus().Device(i); }
  const sim::RequestLog& log() { return bus().Log(); }
  QuorvexUsb& usb() { return usb_; }

  // Finds the first device through the audio driver, as polling does for a model-table device,
  // opens the connection and forgets the discovery requests.
  void ConnectAudio(const char* match = "vid_e5d3&pid_7a01") {
    usb_.SetUseAudioDriver(1);
    ASSERT_TRUE(usb_.SetMatchId(match));
    ASSERT_TRUE(usb_.FindDevice());
    ASSERT_TRUE(usb_.Open());
    bus().ClearLog();
  }

 private:
  sim::Simulation sim_;
  QuorvexUsb usb_;
};

}  // namespace qv::test
