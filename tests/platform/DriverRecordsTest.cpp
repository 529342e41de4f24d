#include "platform/DriverRecords.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "transport/RequestRecords.h"

namespace qv::drivers {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A well-formed record from the host's encoder, then one byte spoiled: the drivers must refuse
// every such record, as a real driver would, instead of acting on a guess.
TEST(AudioDriverRecords, RefusesMalformedPropertyRecords) {
  const Bytes payload = {0x11, 0x22};
  const auto good = EncodeVendorPropertyRecord({0x43, 0x90, 0, 0x91}, payload);
  Bytes out = payload;
  std::string why;
  ASSERT_TRUE(DecodeAudioRequest(kKsPropertyCode, good, out, why)) << why;

  struct Case {
    const char* name;
    std::function<void(Bytes&, Bytes&, std::uint32_t&)> spoil;
  };
  const Case cases[] = {
      {"set guid", [](Bytes& r, Bytes&, std::uint32_t&) { r[3] ^= 1; }},
      {"property id", [](Bytes& r, Bytes&, std::uint32_t&) { r[16] = 6; }},
      {"flags", [](Bytes& r, Bytes&, std::uint32_t&) { r[20] = 3; }},
      {"marker", [](Bytes& r, Bytes&, std::uint32_t&) { r[24] = 0x43; }},
      {"reserved", [](Bytes& r, Bytes&, std::uint32_t&) { r[31] = 1; }},
      {"tail", [](Bytes& r, Bytes&, std::uint32_t&) { r.back() = 1; }},
      {"length field", [](Bytes& r, Bytes&, std::uint32_t&) { r[36] = 3; }},
      {"record size", [](Bytes& r, Bytes&, std::uint32_t&) { r.push_back(0); }},
      {"output size", [](Bytes&, Bytes& o, std::uint32_t&) { o.push_back(0); }},
      {"io code", [](Bytes&, Bytes&, std::uint32_t& c) { c = kVendorWriteCode; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes record(good.begin(), good.end());
    Bytes output = payload;
    std::uint32_t code = kKsPropertyCode;
    c.spoil(record, output, code);
    EXPECT_FALSE(DecodeAudioRequest(code, record, output, why));
  }
}

TEST(VendorDriverRecords, RefusesMalformedRequestRecords) {
  const auto good = EncodeControlRequestRecord({0xC3, 0x91, 0, 0xAE});
  Bytes out(1);
  std::string why;
  ASSERT_TRUE(DecodeVendorRequest(kVendorReadCode, good, out, why)) << why;

  struct Case {
    const char* name;
    std::uint32_t code;
    std::function<void(Bytes&)> spoil;
  };
  const Case cases[] = {
      {"direction against code", kVendorWriteCode, [](Bytes&) {}},
      {"unknown code", 0x222430, [](Bytes&) {}},
      {"reserved head", kVendorReadCode, [](Bytes& r) { r[0] = 1; }},
      {"length field", kVendorReadCode, [](Bytes& r) { r[10] = 1; }},
      {"reserved tail", kVendorReadCode, [](Bytes& r) { r[23] = 1; }},
      {"short record", kVendorReadCode, [](Bytes& r) { r.pop_back(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes record(good.begin(), good.end());
    c.spoil(record);
    EXPECT_FALSE(DecodeVendorRequest(c.code, record, out, why));
  }
}

TEST(DriverRecords, ReadBothProbes) {
  std::string why;
  const auto query = EncodePropertySupportQuery();
  const auto support = DecodeAudioRequest(kKsPropertyCode, query, {}, why);
  ASSERT_TRUE(support) << why;
  EXPECT_EQ(support->kind, DecodedRequest::Kind::kPropertySupport);

  const auto record = EncodeControlRequestRecord({0x80, 0x06, 0x0100, 0x0001}, 18);
  Bytes descriptor(18);
  const auto probe = DecodeVendorRequest(kVendorReadCode, record, descriptor, why);
  ASSERT_TRUE(probe) << why;
  EXPECT_EQ(probe->kind, DecodedRequest::Kind::kGetDescriptor);
}

}  // namespace
}  // namespace qv::drivers
