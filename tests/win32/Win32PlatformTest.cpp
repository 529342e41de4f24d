// The Windows implementations of the ports against the real system calls (under Wine in the
// cross build). No device is attached here, so these check what the transport relies on:
// handles, share modes, class GUIDs, the path text, and the clock's units.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DeviceHandle.h"
#include "platform/DriverRecords.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DeviceInterfaces.h"
#include "platform/win32/Win32DeviceIo.h"
#include "tests/support/TempFiles.h"
#include "util/AppendedFile.h"
#include "util/AtomicFile.h"
#include "util/Sha256.h"
#include "util/Text.h"

namespace qv {
namespace {

// A scratch file in the temporary directory, removed again at the end of the test.
class TempFile {
 public:
  TempFile() {
    char dir[MAX_PATH] = {};
    char name[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, dir) != 0 && GetTempFileNameA(dir, "qv", 0, name) != 0) path_ = name;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// True when nobody else holds the file open: an open that shares nothing succeeds.
bool OpenExclusively(const std::string& path) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

TEST(Win32DeviceIo, OpenSharesReadWriteAndCloseReleases) {
  TempFile file;
  ASSERT_FALSE(file.Path().empty());
  Win32DeviceIo io;
  {
    DeviceHandle first(io, io.Open(file.Path().c_str()));
    ASSERT_TRUE(first.Valid());
    // A second connection (the probe runs on a handle of its own) must be able to open too.
    DeviceHandle second(io, io.Open(file.Path().c_str()));
    EXPECT_TRUE(second.Valid());
    EXPECT_FALSE(OpenExclusively(file.Path()));
  }
  EXPECT_TRUE(OpenExclusively(file.Path()));
}

TEST(Win32DeviceIo, FailuresAreValues) {
  Win32DeviceIo io;
  EXPECT_EQ(io.Open("\\\\?\\usb#vid_0000&pid_0000#none#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
            kInvalidHandle);
  EXPECT_EQ(io.Open(nullptr), kInvalidHandle);

  std::vector<std::uint8_t> record(24), buffer(18, 0xAA);
  EXPECT_FALSE(io.Control(kInvalidHandle, 0x22242E, record, buffer).ok);
  EXPECT_FALSE(io.Control(kNoHandle, 0x22242E, record, buffer).ok);

  // A plain file has no driver that knows the vendor codes: refused, not faked.
  TempFile file;
  DeviceHandle handle(io, io.Open(file.Path().c_str()));
  ASSERT_TRUE(handle.Valid());
  for (std::uint32_t code : {0x22242Eu, 0x222429u, 0x2F0003u}) {
    EXPECT_FALSE(io.Control(handle.Get(), code, record, buffer).ok) << std::hex << code;
  }
}

// The atomic writer's Windows half: the file is replaced whole, and a folder that is not there
// or a directory in the file's place is refused with the file left as it was.
TEST(AtomicFile, ReplacesWholeAndRefusesWhatItCannotWrite) {
  TempFile file;
  ASSERT_FALSE(file.Path().empty());
  EXPECT_EQ(WriteFileAtomically(file.Path(), std::string_view("first")), "");
  EXPECT_EQ(WriteFileAtomically(file.Path(), std::string_view("second, longer")), "");
  EXPECT_EQ(CheckWritable(file.Path()), "");
  EXPECT_EQ(test::ReadFile(file.Path()), "second, longer");
  const std::string missing = file.Path() + ".folder\\x.bin";
  EXPECT_NE(WriteFileAtomically(missing, std::string_view("x")).find("its folder does not exist"),
            std::string::npos);
  EXPECT_NE(CheckWritable(missing), "");
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  EXPECT_NE(WriteFileAtomically(dir, std::string_view("x")).find("it is a directory"),
            std::string::npos);
}

// The appended record's Windows half: opened for appending only, its last line mended through a
// reader of its own; and the system's SHA-256 through BCrypt.
TEST(AppendedFile, AppendsWholeLinesAfterALastLineCutOff) {
  TempFile file;
  ASSERT_FALSE(file.Path().empty());
  EXPECT_EQ(WriteFileAtomically(file.Path(), std::string_view("{\"cut")), "");
  {
    AppendedFile record(file.Path());
    EXPECT_TRUE(record.Append("{}")) << record.Error();
  }
  EXPECT_EQ(test::ReadFile(file.Path()), "{\"cut\n{}\n");
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex({reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()}),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// "{4D1E55B2-F16F-11CF-88CB-001111000030}": how a device path ends with its interface class.
std::string GuidText(const Guid& g) {
  std::string text = "{";
  text += FormatHex(g.data1, 8) + "-" + FormatHex(g.data2, 4) + "-" + FormatHex(g.data3, 4) + "-";
  for (std::size_t i = 0; i < g.data4.size(); ++i) {
    text += FormatHex(g.data4[i], 2);
    if (i == 1) text += "-";
  }
  return text + "}";
}

TEST(Win32DeviceInterfaces, PathsNameTheirClassWhole) {
  // GUID_DEVINTERFACE_HID: keyboards and mice are present on Windows and in every Wine prefix.
  const Guid hid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  Win32DeviceInterfaces interfaces;
  const auto paths = interfaces.PresentPaths(hid);
  ASSERT_TRUE(paths.has_value());
  // Empty also when the class GUID reached SetupAPI garbled.
  ASSERT_FALSE(paths->empty()) << "no HID interface found";
  const std::string suffix = GuidText(hid);
  for (std::string path : *paths) {
    // Windows writes the class in lower case, Wine in either; only the value matters here.
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << path;
    ASSERT_GE(path.size(), suffix.size());
    EXPECT_EQ(path.substr(path.size() - suffix.size()), suffix) << path;
  }
}

// A failed request is taken for gone when its interface is no longer listed under the class its
// path names: a path read wrongly would take a device that is there for gone.
TEST(Win32DeviceInterfaces, APathIsLookedForUnderTheClassItNames) {
  struct Row {
    const char* path;
    std::optional<Guid> names;
  };
  const Row rows[] = {
      {"\\\\?\\usb#vid_e6a4&pid_6000#5&2c3d4e5f&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
       drivers::kUsbDeviceClass},
      // The audio driver's interface with its reference string, the class in upper case.
      {"\\\\?\\usb#vid_e5d3&pid_7a01&mi_00#6&1a2b&0&0000#{7E2C4D91-5A3B-4C6E-8F17-0B9D2A6E5C34}"
       "\\global",
       drivers::kAudioClass},
      {"\\\\?\\usb#vid_e6a4&pid_6000#5&2c3d#{a5dcbf10-6530-11d2-901f-00c04fb951e}", std::nullopt},
      {"\\\\?\\usb#vid_e6a4&pid_6000#5&2c3d#{a5dcbf10-6530-11d2-901f-00c04fb951ed}x", std::nullopt},
      {"C:\\temp\\qv12.tmp", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(InterfaceClassOfPath(row.path), row.names) << row.path;

  Win32DeviceInterfaces interfaces;
  const Guid hid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  const auto paths = interfaces.PresentPaths(hid);
  ASSERT_TRUE(paths && !paths->empty());
  EXPECT_EQ(interfaces.Listed(paths->front()), true);
  EXPECT_EQ(interfaces.Listed("\\\\?\\hid#gone#0#" + GuidText(hid)), false);
  EXPECT_EQ(interfaces.Listed("C:\\temp\\qv12.tmp"), std::nullopt);
}

TEST(Win32DeviceInterfaces, ClassWithoutInterfacesIsAnEmptyList) {
  const Guid unused{0x0BADF00D, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
  Win32DeviceInterfaces interfaces;
  const auto paths = interfaces.PresentPaths(unused);
  ASSERT_TRUE(paths.has_value());
  EXPECT_TRUE(paths->empty());
}

TEST(Win32Clock, SleepsAreMeasuredInMicroseconds) {
  Win32Clock clock;
  for (std::uint32_t ms : {1u, 10u, 50u}) {
    const auto before = clock.Now();
    clock.Sleep(ms);
    const auto elapsed = clock.Now() - before;
    // Lower bound allows for a timer tick rounding a pause down; the upper one for a busy host.
    EXPECT_GE(elapsed, std::chrono::microseconds(ms * 1000 - 1000)) << ms << " ms";
    EXPECT_LT(elapsed, std::chrono::microseconds(ms * 1000 + 500'000)) << ms << " ms";
  }
}

TEST(Win32Clock, OneMillisecondPauseIsNotASchedulerTick) {
  Win32Clock clock;
  std::vector<std::chrono::microseconds> pauses;
  for (int i = 0; i < 21; ++i) {
    const auto before = clock.Now();
    clock.Sleep(1);
    pauses.push_back(clock.Now() - before);
  }
  std::nth_element(pauses.begin(), pauses.begin() + 10, pauses.end());
  // At the default resolution a 1 ms pause lasts a whole 15.6 ms tick.
  EXPECT_LT(pauses[10], std::chrono::milliseconds(8));
}

}  // namespace
}  // namespace qv
