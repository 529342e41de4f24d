#include "platform/DeviceOwner.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/LockFolder.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qv {
namespace {

using test::ThisProcess;

// A key of this test program's own, so that runs side by side never meet.
std::string Key(const char* device) {
  return std::string(device) + "#" + std::to_string(ThisProcess());
}

class DeviceOwner : public ::testing::Test {
 private:
  test::LockFolder locks_;
};

TEST_F(DeviceOwner, ASecondOwnerIsRefusedAndToldWhoHoldsTheDeviceUntilItIsReleased) {
  const std::string key = Key("usb#vid_e5d3&pid_7a01#1-2");
  ClaimResult first = ClaimDevice(key, "qvtool");
  ASSERT_TRUE(first.claim.Held()) << first.error;

  const ClaimResult second = ClaimDevice(key, "qvupdate");
  EXPECT_FALSE(second.claim.Held());
  EXPECT_TRUE(second.inUse);
  EXPECT_EQ(DescribeHolder(second.holder),
            "qvtool (process " + std::to_string(ThisProcess()) + ")");
  // Another device is another owner's to take.
  EXPECT_TRUE(ClaimDevice(Key("usb#vid_e5d3&pid_7a01#1-3"), "qvtool").claim.Held());

  first.claim.Release();
  EXPECT_TRUE(ClaimDevice(key, "qvupdate").claim.Held());
  EXPECT_EQ(DescribeHolder({}), "another program");
}

TEST_F(DeviceOwner, NamesAreSafeFileNamesAndOneForEverySpellingTheSystemTreatsAsOne) {
  const std::string name = ClaimName("\\\\?\\usb#vid_e5d3&pid_7a01#5&2c3d4e5f&0&2#{a5dcbf10}");
  EXPECT_EQ(name.find_first_of("\\/:*?\"<>|"), std::string::npos) << name;
  EXPECT_NE(ClaimName("usb#vid_e5d3&pid_7a01#1-2"), ClaimName("usb#vid_e5d3&pid_7a01#1-3"));
#ifdef _WIN32
  EXPECT_EQ(ClaimName("USB#VID_E5D3"), ClaimName("usb#vid_e5d3"));
#endif
}

#ifndef _WIN32
TEST_F(DeviceOwner, AnotherProcessIsRefusedWhileTheOwnerLivesAndNotOnceItDied) {
  const std::string key = Key("usb#vid_e5d3&pid_7a01#2-1");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Holds the device, says so, and dies without releasing it.
    const ClaimResult held = ClaimDevice(key, "qvtool");
    const char answer = held.claim.Held() ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');

  const ClaimResult refused = ClaimDevice(key, "qvtool");
  EXPECT_TRUE(refused.inUse);
  EXPECT_EQ(refused.holder.processId, static_cast<std::uint64_t>(child));

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(ClaimDevice(key, "qvtool").claim.Held());
}
#endif

}  // namespace
}  // namespace qv
