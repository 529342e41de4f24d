#include "util/Sha256.h"

#include <array>

#include "util/Text.h"

#ifdef _WIN32
#include <windows.h>

#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace qv {
namespace {

constexpr std::size_t kDigestBytes = 32;

std::string Hex(const std::array<std::uint8_t, kDigestBytes>& digest) {
  std::string text;
  for (const std::uint8_t byte : digest) text += FormatHex(byte, 2);
  return LowerAscii(text);
}

}  // namespace

#ifdef _WIN32

// The algorithm's provider and the hash object, each closed as it goes out of scope.
struct Provider {
  BCRYPT_ALG_HANDLE handle = nullptr;
  ~Provider() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
};
struct HashObject {
  BCRYPT_HASH_HANDLE handle = nullptr;
  ~HashObject() {
    if (handle) BCryptDestroyHash(handle);
  }
};

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, kDigestBytes> digest{};
  Provider provider;
  HashObject hash;
  const bool made =
      BCryptOpenAlgorithmProvider(&provider.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
      BCryptCreateHash(provider.handle, &hash.handle, nullptr, 0, nullptr, 0, 0) >= 0 &&
      BCryptHashData(hash.handle, const_cast<PUCHAR>(bytes.data()),
                     static_cast<ULONG>(bytes.size()), 0) >= 0 &&
      BCryptFinishHash(hash.handle, digest.data(), kDigestBytes, 0) >= 0;
  return made ? Hex(digest) : std::string();
}

#else

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, kDigestBytes> digest{};
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
      size != kDigestBytes)
    return {};
  return Hex(digest);
}

#endif

}  // namespace qv
