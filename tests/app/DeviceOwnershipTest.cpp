#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DeviceOwner.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/LockFolder.h"
#include "tests/support/TempFiles.h"

namespace qv::test {
namespace {

constexpr const char* kReadyText = "Firmware Update file   Brevanto_RX1.bin    is Ready!";

std::string HeldBy(const char* program) {
  return std::string(program) + " (process " + std::to_string(ThisProcess()) + ")";
}

// The update window on a simulated device whose flash is kept in a file, claimed by that file as
// the simulated window programs claim it, with the model's firmware file at hand.
class Ownership : public ::testing::Test {
 protected:
  Ownership() : w(96, "model=Brevanto_RX1;flash-file=" + FlashFile().string()) {
    w.shell.currentDirectory = dir.Path();
    w.ClaimDevicesAs("qvupdate");
    dir.Write("Brevanto_RX1.bin", std::string(4096, '\x42'));
  }

  std::filesystem::path FlashFile() const { return dir.Path() / "flash.bin"; }
  // What another program (qvtool) gets when it claims the device now.
  ClaimResult OtherClaim() const {
    return ClaimDevice(sim::FlashFileClaimKey(FlashFile()), "qvtool");
  }
  TForm1& f() { return *w.form; }
  void Tick() { w.input().Tick(*f().Timer1); }
  bool TickUntilFound() {
    for (int i = 0; i < 40 && !w.core.UsbDevice.GetDeviceFound(); ++i) Tick();
    return w.core.UsbDevice.GetDeviceFound();
  }

  LockFolder locks;
  TempDir dir;
  Window w;
};

TEST_F(Ownership, ADeviceAnotherProgramHoldsIsShownInUseAndSentNothingUntilItIsFree) {
  ClaimResult other = OtherClaim();
  ASSERT_TRUE(other.claim.Held()) << other.error;
  ASSERT_TRUE(TickUntilFound());
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(f().lblDetectDevice->Caption(), "In use by " + HeldBy("qvtool"));
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), "No Updated File !");
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  EXPECT_NE(f().pnlUSBExist->GetColor(), ui::clLime);
  EXPECT_EQ(w.core.UpdateFileLoaded, 0);
  // Start made usable another way (the service window's File button) leaves the device alone
  // too, without spending the run's one update.
  f().btnSimpleAuto->SetEnabled(true);
  w.input().Click(*f().btnSimpleAuto);
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_FALSE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(w.app.UpdateFinished, 0);
  // Every open is refused: not even the version is read (it selects a register bank).
  f().GetFWVersion();
  EXPECT_EQ(f().lblFWVer->Caption(), "Current Firmware:unknown");
  ASSERT_GT(w.bus().Log().Size(), 0u);
  for (const sim::LoggedRequest& request : w.bus().Log().Entries())
    EXPECT_NE(request.kind, drivers::DecodedRequest::Kind::kControl) << sim::Describe(request);

  // Free again: the next tick goes on as with a device nobody else holds, and the device is the
  // window's while it shows it.
  other.claim.Release();
  Tick();
  EXPECT_EQ(f().lblDetectDevice->Caption(), "Find Device Brevanto RX1");
  EXPECT_EQ(f().lblUpdaeFileStatus->Caption(), kReadyText);
  EXPECT_TRUE(f().btnSimpleAuto->Enabled());
  const ClaimResult refused = OtherClaim();
  EXPECT_TRUE(refused.inUse);
  EXPECT_EQ(DescribeHolder(refused.holder), HeldBy("qvupdate"));

  // Let go of when the device leaves, when detection is switched off and when the window closes.
  sim::SimDevice& device = w.bus().Device(0);
  w.bus().Unplug(device);
  Tick();
  EXPECT_EQ(f().lblDetectDevice->Caption(), "No device is available");
  EXPECT_TRUE(OtherClaim().claim.Held());
  w.bus().Replug(device);
  ASSERT_TRUE(TickUntilFound());
  EXPECT_TRUE(OtherClaim().inUse);
  w.input().Click(*f().chkDetectUSB);
  EXPECT_TRUE(OtherClaim().claim.Held());
  w.input().Click(*f().chkDetectUSB);
  ASSERT_TRUE(TickUntilFound());
  EXPECT_TRUE(OtherClaim().inUse);
  f().Close();
  EXPECT_TRUE(OtherClaim().claim.Held());
}

TEST_F(Ownership, TheSessionMayNotEndWhileTheUpdateRuns) {
  ASSERT_TRUE(TickUntilFound());
  ASSERT_TRUE(f().btnSimpleAuto->Enabled());
  EXPECT_EQ(f().SessionEndRefusal(), "");

  std::vector<std::string> reasons;
  w.shell.onProcessMessages = [&] { reasons.push_back(f().SessionEndRefusal()); };
  w.input().Click(*f().btnSimpleAuto);
  w.shell.onProcessMessages = nullptr;

  EXPECT_EQ(f().lblISPProcStatus->Caption(), "Firmware update success!");
  ASSERT_FALSE(reasons.empty());
  for (const std::string& reason : reasons)
    EXPECT_EQ(reason,
              "A firmware update is running: ending now would leave the device without working "
              "firmware.");
  EXPECT_EQ(f().SessionEndRefusal(), "");
}

}  // namespace
}  // namespace qv::test
