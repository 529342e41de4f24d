#include "sim/SimChip.h"

namespace qv::sim {
namespace {

constexpr std::uint8_t kVendorOut = 0x43, kVendorIn = 0xC3;
constexpr std::uint8_t kWriteRegister = 0x90, kReadRegister = 0x91;
constexpr std::uint8_t kBankSelect = 0x00;

}  // namespace

bool SimChip::Control(const drivers::DecodedRequest& request, std::span<std::uint8_t> answer) {
  // The chip answers vendor requests to "other" only; the audio path carries no type at all.
  if (request.requestType &&
      *request.requestType != (request.deviceToHost ? kVendorIn : kVendorOut))
    return false;
  if (IspBridge::Handles(request.request)) return isp_.Control(request, answer);
  // Register addresses are 8 bits wide: anything else is a malformed request.
  const bool registerRequest = request.value == 0 && request.index <= 0xFF && request.length == 1;
  switch (request.request) {
    case kWriteRegister:
      if (request.deviceToHost || !registerRequest) return false;
      WriteRegister(static_cast<std::uint8_t>(request.index), request.outData[0]);
      return true;
    case kReadRegister:
      if (!request.deviceToHost || !registerRequest) return false;
      answer[0] = ReadRegister(static_cast<std::uint8_t>(request.index));
      return true;
    default:
      return false;
  }
}

std::uint8_t SimChip::ReadRegister(std::uint8_t address) {
  if (address == kBankSelect) return selectedBank_;
  if (selectedBank_ == kMailboxBank) return mailbox_.Read(banks_[kMailboxBank], address);
  if (selectedBank_ == kI2cBank) return i2c_.Read(banks_[kI2cBank], address);
  return banks_[selectedBank_][address];
}

void SimChip::WriteRegister(std::uint8_t address, std::uint8_t value) {
  if (address == kBankSelect) {
    selectedBank_ = value;
    return;
  }
  if (selectedBank_ == kMailboxBank) return mailbox_.Write(banks_[kMailboxBank], address, value);
  if (selectedBank_ == kI2cBank) return i2c_.Write(banks_[kI2cBank], address, value);
  banks_[selectedBank_][address] = value;
}

}  // namespace qv::sim
