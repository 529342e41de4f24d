#include "transport/RequestRecords.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The vendor property set GUID {3B1E7A52-9C4D-4F08-A6E1-72D5C08B4E19} as it lies in memory.
const Bytes kSetBytes = {0x52, 0x7A, 0x1E, 0x3B, 0x4D, 0x9C, 0x08, 0x4F,
                         0xA6, 0xE1, 0x72, 0xD5, 0xC0, 0x8B, 0x4E, 0x19};

Bytes PropertyRecord(std::uint8_t flags, std::uint8_t request, std::uint16_t value,
                     std::uint16_t index, const Bytes& payload) {
  Bytes r = kSetBytes;
  Bytes tail = {7,
                0,
                0,
                0,
                flags,
                0,
                0,
                0,
                0x20,
                request,
                static_cast<std::uint8_t>(value),
                static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(index),
                static_cast<std::uint8_t>(index >> 8),
                0,
                0,
                0,
                0,
                0,
                0,
                static_cast<std::uint8_t>(payload.size()),
                static_cast<std::uint8_t>(payload.size() >> 8),
                0,
                0};
  r.insert(r.end(), tail.begin(), tail.end());
  r.insert(r.end(), payload.begin(), payload.end());
  r.resize(std::max<std::size_t>(r.size() + 7, 48), 0);
  return r;
}

TEST(VendorPropertyRecord, ByteImagesForEveryPayloadLength) {
  Bytes longPayload(300);
  for (std::size_t i = 0; i < longPayload.size(); ++i)
    longPayload[i] = static_cast<std::uint8_t>(i);
  struct Case {
    std::uint8_t type;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    Bytes payload;
    std::size_t size;
    std::uint8_t flags;
  };
  const Case cases[] = {
      {0xC3, 0x91, 0x0000, 0x00AE, {}, 48, 1},
      {0x43, 0x90, 0x0000, 0x0091, {0x21}, 48, 2},
      {0xC3, 0x82, 0x1234, 0xABCD, {0xAA, 0x55}, 49, 1},
      {0x43, 0x80, 0x0000, 0x0001, longPayload, 347, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload.size());
    const auto record =
        EncodeVendorPropertyRecord({c.type, c.request, c.value, c.index}, c.payload);
    EXPECT_EQ(record.size(), c.size);
    EXPECT_EQ(record, PropertyRecord(c.flags, c.request, c.value, c.index, c.payload));
  }
}

TEST(ControlRequestRecord, TwentyFourBytesWithTheSetupValues) {
  const auto record = EncodeControlRequestRecord({0xC3, 0x91, 0xBEEF, 0x0A0B});
  const Bytes expected = {0, 0, 0, 0, 0xC3, 0x91, 0xEF, 0xBE, 0x0B, 0x0A, 0, 0,
                          0, 0, 0, 0, 0,    0,    0,    0,    0,    0,    0, 0};
  EXPECT_EQ(Bytes(record.begin(), record.end()), expected);

  const auto probe = EncodeControlRequestRecord({0x80, 0x06, 0x0100, 0x0001}, 18);
  const Bytes probeExpected = {0, 0, 0, 0, 0x80, 0x06, 0x00, 0x01, 0x01, 0x00, 18, 0,
                               0, 0, 0, 0, 0,    0,    0,    0,    0,    0,    0,  0};
  EXPECT_EQ(Bytes(probe.begin(), probe.end()), probeExpected);
}

TEST(RequestDirection, OnlyBitSevenOfTheRequestTypeDecides) {
  struct Case {
    std::uint8_t type;
    std::uint32_t ioctl;
    std::uint8_t flags;
  };
  const Case cases[] = {{0xC3, 0x22242E, 1}, {0x43, 0x222429, 2}, {0x80, 0x22242E, 1},
                        {0xFF, 0x22242E, 1}, {0x7F, 0x222429, 2}, {0x00, 0x222429, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    EXPECT_EQ(VendorIoctlFor(c.type), c.ioctl);
    EXPECT_EQ(EncodeVendorPropertyRecord({c.type, 0x91, 0, 0}, {})[20], c.flags);
  }
}

TEST(PropertySupportQuery, IsABareHeaderAskingForTheVendorSet) {
  const auto query = EncodePropertySupportQuery();
  Bytes expected = kSetBytes;
  const Bytes tail = {0, 0, 0, 0, 0x00, 0x01, 0, 0};
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(Bytes(query.begin(), query.end()), expected);
}

}  // namespace
}  // namespace qv
