// The built qvtool.exe, without --simulate, against devices of the loopback test driver under
// Wine: its real ports find them through SetupAPI and reach the simulated chip through
// DeviceIoControl and the driver.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "tests/support/OwnedHandle.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"
#include "tests/support/ToolRun.h"
#include "tests/win32driver/LoopbackDevices.h"

namespace qv::test {
namespace {

// Long enough for a small update on a loaded machine; a tool that hangs fails the test instead
// of holding the suite.
constexpr DWORD kToolTimeoutMs = 120000;

class QvToolOverLoopback : public ::testing::Test {
 protected:
  LoopbackDevices& Plug(const std::string& setup, std::vector<LoopbackFaults> faults = {}) {
    devices_.reset();  // one set of devices at a time: the tool would see both
    devices_ = std::make_unique<LoopbackDevices>(QV_LOOPBACK_INF, setup, std::move(faults));
    return *devices_;
  }
  std::string FlashOf(std::size_t device) {
    const auto flash = devices_->Flash(device);
    return std::string(flash.begin(), flash.end());
  }
  void Write(const std::string& name, const std::string& bytes) { dir_.Write(name, bytes); }

  // Runs qvtool.exe in the test's folder with no standard input (never a terminal).
  ToolRun Tool(const std::vector<std::string>& args) {
    std::string command(1, '"');
    command += QVTOOL_EXE;
    command += '"';
    for (const std::string& arg : args) command += " \"" + arg + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const auto file = [&](const char* name, DWORD access, DWORD disposition) {
      return OwnedHandle(CreateFileA((dir_.Path() / name).string().c_str(), access,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    ToolRun run;
    {
      Write("stdin.txt", "");
      const OwnedHandle in = file("stdin.txt", GENERIC_READ, OPEN_EXISTING);
      const OwnedHandle out = file("stdout.txt", GENERIC_WRITE, CREATE_ALWAYS);
      const OwnedHandle err = file("stderr.txt", GENERIC_WRITE, CREATE_ALWAYS);
      STARTUPINFOA startup{};
      startup.cb = sizeof(startup);
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = in.get();
      startup.hStdOutput = out.get();
      startup.hStdError = err.get();
      PROCESS_INFORMATION info{};
      if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                          nullptr, dir_.Path().string().c_str(), &startup, &info)) {
        ADD_FAILURE() << "cannot start " << command << " (error " << GetLastError() << ")";
        return run;
      }
      CloseHandle(info.hThread);
      const OwnedHandle process(info.hProcess);
      if (WaitForSingleObject(process.get(), kToolTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 99);
        WaitForSingleObject(process.get(), INFINITE);
        ADD_FAILURE() << command << " did not end within " << kToolTimeoutMs / 1000 << " s";
      }
      DWORD code = 0;
      GetExitCodeProcess(process.get(), &code);
      run.status = static_cast<int>(code);
    }
    run.out = dir_.Read("stdout.txt");
    run.err = dir_.Read("stderr.txt");
    // The console's line ends, as a Linux run's for the comparisons.
    for (std::string* text : {&run.out, &run.err}) {
      for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;) text->erase(at, 1);
    }
    return run;
  }

  TempDir dir_;
  std::unique_ptr<LoopbackDevices> devices_;
};

TEST_F(QvToolOverLoopback, ListsUpdatesBacksUpAndRestoresARealDevice) {
  Plug("model=Brevanto_RX1");
  ToolRun run = Tool({"list"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Brevanto RX1  vid_e5d3&pid_7a01  audio driver  " + devices_->InterfacePath(0) + "\n");
  run = Tool({"chip-id"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_CONTAINS(run.out, "0xEF,  0x40,  0x13,  \nflash: EF 40 13 (4 Mbit");

  // Captured into the build tree, with its firmware and what the tool said, for the native qvtool
  // to replay (loopback_capture_replay): the requests are the same bytes on both platforms.
  const std::filesystem::path captured(QV_CAPTURE_DIR);
  std::filesystem::remove_all(captured);  // nothing of an earlier run is replayed
  std::filesystem::create_directories(captured);
  const std::string image = Firmware(0x1801);
  Write("Brevanto_RX1.hex", AsHex(image));
  run = Tool(
      {"--capture", (captured / "update.jsonl").string(), "update", "--yes", "Brevanto_RX1.hex"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Firmware update success!");
  EXPECT_EQ(FlashOf(0), Flashed(image));
  for (const auto& [name, bytes] :
       {std::pair{"Brevanto_RX1.hex", AsHex(image)}, std::pair{"stdout.txt", run.out},
        std::pair{"status.txt", std::to_string(run.status) + "\n"}})
    std::ofstream(captured / name, std::ios::binary) << bytes;

  // Its first 16 KiB: the whole flash would take thousands of requests more and prove no more.
  run = Tool({"backup", "--size", "0x4000", "old.bin"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::string backup = dir_.Read("old.bin");
  EXPECT_EQ(backup, FlashOf(0).substr(0, 0x4000));

  Write("other.bin", Firmware(0x900));
  run = Tool({"update", "--yes", "other.bin"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  // A part of the flash is no whole backup: written back only when forced.
  run = Tool({"restore", "--yes", "old.bin"});
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  run = Tool({"restore", "--yes", "--force", "old.bin"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Restore success!");
  EXPECT_EQ(FlashOf(0), Flashed(backup));
}

TEST_F(QvToolOverLoopback, TwoDevicesOfOneModelAreToldApartByTheirPaths) {
  Plug("model=Brevanto_RX1,Brevanto_RX1");
  ToolRun run = Tool({"chip-id"});
  EXPECT_EQ(run.status, 2);
  EXPECT_CONTAINS(run.err, devices_->InterfacePath(0) + "\n    --device '0000'\n");
  EXPECT_CONTAINS(run.err, devices_->InterfacePath(1) + "\n    --device '0001'\n");
  run = Tool({"--device", "0001", "chip-id"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(devices_->Requests(0).empty());
  EXPECT_FALSE(devices_->Requests(1).empty());
}

// Mid-programming (the erase and its polls take the first few hundred requests), a device that
// leaves fails the update at once and is named as gone.
TEST_F(QvToolOverLoopback, AnUpdateFailsWhenItsDeviceLeaves) {
  const std::string image = Firmware(0x1801);
  Write("Brevanto_RX1.bin", image);
  Plug("model=Brevanto_RX1;fail-after=700");
  const ToolRun run = Tool({"update", "--yes", "Brevanto_RX1.bin"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Firmware update Fail!");
  EXPECT_CONTAINS(run.err, "the device is gone");
  EXPECT_EQ(devices_->Requests(0).size(), 700u);  // nothing reached the device after it left
}

// A device that leaves while its chip erase is polled (the erase is request 24), its request lost
// with it, ends the update when that request runs out of its second, as Linux would at once, not
// when the polls run out ten seconds later; the failure names it gone.
TEST_F(QvToolOverLoopback, AnUnplugDuringTheEraseEndsTheUpdateWithinTwoSeconds) {
  Write("Brevanto_RX1.bin", Firmware(0x1801));
  Plug("model=Brevanto_RX1", {LoopbackFaults{.lostAt = 30}});
  const ToolRun run = Tool({"update", "--yes", "Brevanto_RX1.bin"});
  const auto ended = std::chrono::steady_clock::now();
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_CONTAINS(run.out, "Erase Flash Fail");
  EXPECT_CONTAINS(run.out, "Firmware update Fail!");
  EXPECT_CONTAINS(run.err, "the device is gone");
  const auto left = devices_->LeftAt(0);
  ASSERT_TRUE(left);
  const double after = std::chrono::duration<double>(ended - *left).count();
  std::printf("the update ended %.3f s after the device left\n", after);
  EXPECT_LT(after, 2.0);
}

}  // namespace
}  // namespace qv::test
