#include "sim/IspBridge.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "util/AtomicFile.h"

namespace qv::sim {
namespace {

constexpr std::uint8_t kSend = 0x80, kCommand = 0x81, kResult = 0x82, kReady = 0x83, kEnter = 0x84,
                       kLeave = 0x85;
constexpr std::uint16_t kEnterValue = 0x6A4E, kEnterIndex = 0x1C39;
constexpr std::uint16_t kLeaveValue = 0x3D72, kLeaveIndex = 0x49B6;
constexpr std::size_t kAnswerBuffer = 256;
constexpr std::size_t kMaxInstruction = 4 + 256;  // a page program: instruction, address, page
constexpr std::uint8_t kReadInstruction = 0x03;

}  // namespace

IspBridge::IspBridge(const Clock& clock)
    : clock_(clock), flash_(std::make_unique<SpiFlash>(DefaultFlashChip(), clock)) {}

IspBridge::~IspBridge() {
  SaveFile();
}

void IspBridge::FitFlash(const FlashChipModel& model) {
  flash_ = std::make_unique<SpiFlash>(model, clock_);
}

bool IspBridge::Control(const drivers::DecodedRequest& request, std::span<std::uint8_t> answer) {
  switch (request.request) {
    case kEnter:
    case kLeave: {
      const bool enter = request.request == kEnter;
      if (request.deviceToHost || request.length != 0) return false;
      if (request.value != (enter ? kEnterValue : kLeaveValue) ||
          request.index != (enter ? kEnterIndex : kLeaveIndex))
        return false;  // the wrong key does not switch anything
      ispMode_ = enter;
      pending_.clear();
      if (!enter) SaveFile();
      return true;
    }
    default:
      break;
  }
  // The flash pass-through exists only in ISP mode.
  if (!ispMode_) return false;
  switch (request.request) {
    case kSend:
      if (request.deviceToHost || request.value != 0 || request.index > 1 || request.length == 0 ||
          pending_.size() + request.length > kMaxInstruction)
        return false;
      pending_.insert(pending_.end(), request.outData.begin(), request.outData.end());
      if (request.index == 1) {
        Instruction(pending_, 0);
        pending_.clear();
      }
      return true;
    case kCommand:
      if (request.deviceToHost || request.index != 1 || request.value == 0 ||
          request.value > kAnswerBuffer || request.length == 0 || request.length > 4 ||
          !pending_.empty())
        return false;
      return Instruction(request.outData, request.value);
    case kReady:
      if (!request.deviceToHost || request.length != 1) return false;
      if (!notReadyPolls_ || *notReadyPolls_ > 0) {
        if (notReadyPolls_) --*notReadyPolls_;
        answer[0] = 0;
      } else {
        answer[0] = 1;
      }
      return true;
    case kResult:
      // The chip hands out exactly what the last instruction was told to collect; a fetch of
      // another length is a host that lost track of its own request, and the chip stalls it.
      if (!request.deviceToHost || request.length == 0 || request.length != answer_.size())
        return false;
      std::copy_n(answer_.begin(), request.length, answer.begin());
      return true;
    default:
      return false;
  }
}

bool IspBridge::Instruction(std::span<const std::uint8_t> bytes, std::size_t answerCount) {
  answer_ = flash_->Transaction(bytes, answerCount);
  if (bytes[0] == kReadInstruction && answerCount > 0) Flip(answer_);
  const bool send = answerCount == 0;
  notReadyPolls_ = send && readyAfterSends_ ? *readyAfterSends_ : readyAfter_;
  return true;
}

void IspBridge::Flip(std::vector<std::uint8_t>& answer) {
  ++reads_;
  if (flipEvery_ == 0 || reads_ % flipEvery_ != 0) return;
  const std::uint64_t n = reads_ / flipEvery_;
  answer[n % answer.size()] ^= static_cast<std::uint8_t>(1u << (n % 8));
}

std::string IspBridge::AttachFile(const std::filesystem::path& path) {
  file_ = path;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    savedChanges_ = flash_->Changes();
    // A new file holds the flash as it is, so there is always something to inspect.
    SaveFile();
    return saveError_;
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error) return "cannot read flash file '" + path.string() + "'";
  if (size > flash_->Contents().size())
    return "flash file '" + path.string() + "' is larger than the flash (" +
           std::to_string(flash_->Contents().size()) + " bytes)";
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  if (!in.good() && !in.eof()) return "cannot read flash file '" + path.string() + "'";
  auto contents = flash_->MutableContents();
  std::transform(bytes.begin(), bytes.end(), contents.begin(),
                 [](char c) { return static_cast<std::uint8_t>(c); });
  savedChanges_ = flash_->Changes();
  return {};
}

void IspBridge::SaveFile() {
  if (file_.empty() || (flash_->Changes() == savedChanges_ && std::filesystem::exists(file_)))
    return;
  const auto contents = flash_->Contents();
  saveError_ =
      WriteFileAtomically(file_, {reinterpret_cast<const char*>(contents.data()), contents.size()});
  if (saveError_.empty()) savedChanges_ = flash_->Changes();
}

void IspBridge::PowerOff() {
  ispMode_ = false;
  pending_.clear();
  SaveFile();
}

}  // namespace qv::sim
