#include "hidden/Envelope.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "image/Errors.h"

namespace veilora {
namespace {

constexpr std::array<std::uint8_t, kEnvelopeMagicBytes> kMagic = {0x89, 'V', 'e', 'i', 'l', 'P', 'W', 0x1A};
constexpr std::uint8_t kArgon2id13 = 2;
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kDerivationOffset = 9;
constexpr std::size_t kPassesOffset = 10;
constexpr std::size_t kMemoryOffset = 14;
constexpr std::size_t kSaltOffset = 18;
constexpr std::size_t kNonceOffset = 34;
constexpr std::size_t kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;

static_assert(kEnvelopeSaltBytes == crypto_pwhash_SALTBYTES);
static_assert(kEnvelopeNonceBytes == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
static_assert(kEnvelopeTagBytes == crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(kNonceOffset + kEnvelopeNonceBytes == kEnvelopeHeaderBytes);
static_assert(kArgon2id13 == crypto_pwhash_ALG_ARGON2ID13);
static_assert(kKeyBytes == 32);

void InitSodium() {
  // sodium_init is safe to call more than once and from several threads; it fails only when the
  // system has no source of randomness, which nothing here could work without.
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw EVeiloraError("The cryptography library could not start (no source of randomness)");
}

const std::uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::uint32_t Get32(std::string_view bytes, std::size_t offset) {
  const std::uint8_t* at = Bytes(bytes) + offset;
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void Put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool CostIsValid(TPassphraseCost cost) {
  return cost.passes >= kMinimumPassphraseCost.passes && cost.memoryKiB >= kMinimumPassphraseCost.memoryKiB;
}

bool CostIsAffordable(TPassphraseCost cost) {
  return cost.passes <= kMaxPassphrasePasses && cost.memoryKiB <= kMaxPassphraseMemoryKiB;
}

// The key lives in memory libsodium wipes on every way out.
class TKey {
 public:
  TKey() = default;
  ~TKey() { sodium_memzero(bytes_.data(), bytes_.size()); }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  unsigned char* data() { return bytes_.data(); }

 private:
  std::array<unsigned char, kKeyBytes> bytes_{};
};

// False when Argon2id could not get its memory (the only way it fails with valid parameters).
bool DeriveKey(TKey& key, std::string_view passphrase, const std::uint8_t* salt, TPassphraseCost cost) {
  return crypto_pwhash(key.data(), kKeyBytes, passphrase.data(), passphrase.size(), salt, cost.passes,
                       static_cast<std::size_t>(cost.memoryKiB) * 1024, crypto_pwhash_ALG_ARGON2ID13) == 0;
}

}  // namespace

bool IsEnvelope(std::string_view bytes) {
  return bytes.size() >= kEnvelopeMagicBytes && std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) == 0;
}

TEnvelopeStatus ReadEnvelopeInfo(std::string_view bytes, TEnvelopeInfo& info) {
  info = {};
  if (!IsEnvelope(bytes) || bytes.size() <= kVersionOffset) return TEnvelopeStatus::Damaged;
  const auto version = static_cast<std::uint8_t>(bytes[kVersionOffset]);
  // A later version may lay out everything after its version byte differently.
  if (version > kEnvelopeVersion) {
    info.version = version;
    return TEnvelopeStatus::NewerVersion;
  }
  if (version != kEnvelopeVersion || bytes.size() < kEnvelopeOverhead) return TEnvelopeStatus::Damaged;
  if (static_cast<std::uint8_t>(bytes[kDerivationOffset]) != kArgon2id13) return TEnvelopeStatus::Damaged;
  const TPassphraseCost cost{Get32(bytes, kPassesOffset), Get32(bytes, kMemoryOffset)};
  if (!CostIsValid(cost)) return TEnvelopeStatus::Damaged;
  info.version = version;
  info.cost = cost;
  info.messageBytes = bytes.size() - kEnvelopeOverhead;
  return CostIsAffordable(cost) ? TEnvelopeStatus::Ok : TEnvelopeStatus::TooCostly;
}

std::string SealEnvelope(std::string_view message, std::string_view passphrase, TPassphraseCost cost) {
  InitSodium();
  TEnvelopeSalt salt;
  TEnvelopeNonce nonce;
  randombytes_buf(salt.data(), salt.size());
  // A 24-byte random nonce: collisions are negligible even across many messages under one key.
  randombytes_buf(nonce.data(), nonce.size());
  return SealEnvelopeWith(message, passphrase, cost, salt, nonce);
}

std::string SealEnvelopeWith(std::string_view message, std::string_view passphrase, TPassphraseCost cost,
                             const TEnvelopeSalt& salt, const TEnvelopeNonce& nonce) {
  if (!CostIsValid(cost) || !CostIsAffordable(cost)) {
    throw std::invalid_argument("passphrase cost outside the limits a reader accepts");
  }
  InitSodium();
  std::string envelope(kEnvelopeOverhead + message.size(), '\0');
  std::memcpy(envelope.data(), kMagic.data(), kMagic.size());
  envelope[kVersionOffset] = static_cast<char>(kEnvelopeVersion);
  envelope[kDerivationOffset] = static_cast<char>(kArgon2id13);
  Put32(envelope, kPassesOffset, cost.passes);
  Put32(envelope, kMemoryOffset, cost.memoryKiB);
  std::memcpy(envelope.data() + kSaltOffset, salt.data(), salt.size());
  std::memcpy(envelope.data() + kNonceOffset, nonce.data(), nonce.size());

  TKey key;
  if (!DeriveKey(key, passphrase, salt.data(), cost)) {
    throw EVeiloraError("Not enough memory to derive the key from the passphrase");
  }
  auto* out = reinterpret_cast<unsigned char*>(envelope.data());
  unsigned long long sealedBytes = 0;
  // The combined form writes the cipher text followed by its tag, which is the stored layout.
  crypto_aead_xchacha20poly1305_ietf_encrypt(out + kEnvelopeHeaderBytes, &sealedBytes, Bytes(message),
                                             message.size(), out, kEnvelopeHeaderBytes, nullptr, nonce.data(),
                                             key.data());
  return envelope;
}

TEnvelopeStatus OpenEnvelope(std::string_view envelope, std::string_view passphrase, std::string& message) {
  message.clear();
  TEnvelopeInfo info;
  const TEnvelopeStatus status = ReadEnvelopeInfo(envelope, info);
  if (status != TEnvelopeStatus::Ok) return status;
  InitSodium();
  TKey key;
  if (!DeriveKey(key, passphrase, Bytes(envelope) + kSaltOffset, info.cost))
    return TEnvelopeStatus::OutOfMemory;
  std::string plain(info.messageBytes, '\0');
  unsigned long long plainBytes = 0;
  const auto* in = Bytes(envelope);
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char*>(plain.data()), &plainBytes,
                                                 nullptr, in + kEnvelopeHeaderBytes,
                                                 envelope.size() - kEnvelopeHeaderBytes, in,
                                                 kEnvelopeHeaderBytes, in + kNonceOffset, key.data()) != 0) {
    return TEnvelopeStatus::WrongPassphrase;
  }
  message = std::move(plain);
  return TEnvelopeStatus::Ok;
}

const char* EnvelopeStatusText(TEnvelopeStatus status) {
  switch (status) {
    case TEnvelopeStatus::Ok: return "the protected message opened";
    case TEnvelopeStatus::Damaged: return "the protected message is damaged";
    case TEnvelopeStatus::NewerVersion: return "the protected message was made by a newer version of Veilora";
    case TEnvelopeStatus::TooCostly:
      return "the protected message asks for a key derivation costlier than Veilora allows";
    case TEnvelopeStatus::WrongPassphrase: return "wrong passphrase, or the protected message was changed";
    case TEnvelopeStatus::OutOfMemory: return "not enough memory to derive the key from the passphrase";
  }
  return "unknown failure";
}

}  // namespace veilora
