#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "app/DeviceModels.h"
#include "platform/libusb/UsbIdClasses.h"
#include "transport/Protocol.h"

namespace qv {
namespace {

// The rules file must open every id the tool reaches, and nothing else: a model added to the
// table without its rule would be a device qvtool finds and cannot open.
TEST(UdevRules, GrantAccessToExactlyTheIdsTheToolReaches) {
  std::ifstream file(QV_SOURCE_DIR "/platform/libusb/70-qvtool.rules");
  ASSERT_TRUE(file) << "rules file missing";
  const std::regex rule(
      R"re(^ATTR\{idVendor\}=="([0-9a-f]{4})", ATTR\{idProduct\}=="([0-9a-f]{4})", MODE="0660", GROUP="plugdev", TAG\+="uaccess"$)re");
  std::multiset<std::string> granted;
  for (std::string line; std::getline(file, line);) {
    std::smatch match;
    if (std::regex_match(line, match, rule))
      granted.insert("vid_" + match[1].str() + "&pid_" + match[2].str());
    else
      EXPECT_TRUE(line.empty() || line[0] == '#' || line.find("qvtool_end") != std::string::npos)
          << "not a rule of the expected form: " << line;
  }
  std::multiset<std::string> reached{protocol::kUpdateMatchE6A4, protocol::kUpdateMatchE7B2};
  for (const DeviceModel& model : DeviceModelTable()) reached.emplace(FieldText(model.MatchText));
  EXPECT_EQ(granted, reached);
}

}  // namespace
}  // namespace qv
