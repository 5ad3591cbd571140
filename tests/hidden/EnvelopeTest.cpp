#include "hidden/Envelope.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <numeric>
#include <stdexcept>
#include <string>

#include "hidden/Crypt32.h"
#include "image/ImageProc.h"
#include "support/HeadlessView.h"

using namespace veilora;

namespace {

// Argon2id's cheapest setting keeps every derivation in these tests well under a millisecond; the
// envelope stores it, so opening needs no test-only switch.
constexpr TPassphraseCost kCheap = kMinimumPassphraseCost;

TEnvelopeSalt CountingSalt() {
  TEnvelopeSalt salt;
  std::iota(salt.begin(), salt.end(), std::uint8_t{0});
  return salt;
}

TEnvelopeNonce CountingNonce() {
  TEnvelopeNonce nonce;
  std::iota(nonce.begin(), nonce.end(), std::uint8_t{0x20});
  return nonce;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += digits[static_cast<std::uint8_t>(c) >> 4];
    hex += digits[static_cast<std::uint8_t>(c) & 15];
  }
  return hex;
}

std::string AllByteValues() {
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  return bytes;
}

TEST(EnvelopeLayoutTest, FixedSaltAndNonceGiveTheStoredBytes) {
  const std::string envelope =
      SealEnvelopeWith("abc", "correct horse", {3, 16}, CountingSalt(), CountingNonce());
  ASSERT_EQ(envelope.size(), 74u + 3u);
  // Magic, version 1, Argon2id 1.3, 3 passes, 16 KiB, then the salt and the nonce as given.
  EXPECT_EQ(Hex(envelope.substr(0, 18)),
            "895665696c50571a"
            "01"
            "02"
            "03000000"
            "10000000");
  EXPECT_EQ(Hex(envelope.substr(18, 16)), "000102030405060708090a0b0c0d0e0f");
  EXPECT_EQ(Hex(envelope.substr(34, 24)), "202122232425262728292a2b2c2d2e2f3031323334353637");
  // Cipher text and tag, frozen: a change here means images sealed before no longer open.
  EXPECT_EQ(Hex(envelope.substr(58)), "d7b9f1492ea55e76dbab6db5f3c692683420d2");

  // The same bytes opened straight through libsodium: the key is Argon2id over the stored salt and
  // cost, the associated data is the 58-byte header, and the tag follows the cipher text.
  ASSERT_GE(sodium_init(), 0);
  unsigned char key[32];
  const std::string passphrase = "correct horse";
  ASSERT_EQ(crypto_pwhash(key, sizeof key, passphrase.data(), passphrase.size(), CountingSalt().data(), 3,
                          16 * 1024, crypto_pwhash_ALG_ARGON2ID13),
            0);
  unsigned char plain[3];
  unsigned long long plainBytes = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(envelope.data());
  ASSERT_EQ(crypto_aead_xchacha20poly1305_ietf_decrypt(plain, &plainBytes, nullptr, bytes + 58, 3 + 16, bytes,
                                                       58, CountingNonce().data(), key),
            0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain), plainBytes), "abc");
}

TEST(EnvelopeLayoutTest, InfoReportsTheStoredCostAndMessageLength) {
  TEnvelopeInfo info;
  const std::string envelope = SealEnvelope(std::string(1000, 'x'), "pw", {2, 64});
  ASSERT_EQ(ReadEnvelopeInfo(envelope, info), TEnvelopeStatus::Ok);
  EXPECT_EQ(info.version, 1);
  EXPECT_EQ(info.cost.passes, 2u);
  EXPECT_EQ(info.cost.memoryKiB, 64u);
  EXPECT_EQ(info.messageBytes, 1000u);
}

TEST(EnvelopeRoundTripTest, EveryMessageComesBackExactly) {
  const std::string messages[] = {
      "",
      "abc",
      AllByteValues(),
      std::string(70000, '\0') + "end",
      EncryptText("text under the built-in cipher too", kTextStartKey, kTextMultiplierKey, kTextAdditiveKey),
  };
  const std::string passphrases[] = {"", "p", "pässwörd with spaces", std::string(1000, 'k')};
  for (const std::string& message : messages) {
    for (const std::string& passphrase : passphrases) {
      const std::string envelope = SealEnvelope(message, passphrase, kCheap);
      EXPECT_TRUE(IsEnvelope(envelope));
      std::string opened;
      ASSERT_EQ(OpenEnvelope(envelope, passphrase, opened), TEnvelopeStatus::Ok);
      EXPECT_EQ(opened, message);
    }
  }
}

TEST(EnvelopeRoundTripTest, ReadingUsesTheCostTheWriterStored) {
  for (const TPassphraseCost cost :
       {kCheap, TPassphraseCost{2, 32}, TPassphraseCost{kMaxPassphrasePasses, 8}}) {
    const std::string envelope = SealEnvelope("message", "pw", cost);
    std::string opened;
    EXPECT_EQ(OpenEnvelope(envelope, "pw", opened), TEnvelopeStatus::Ok);
    EXPECT_EQ(opened, "message");
  }
}

TEST(EnvelopeRoundTripTest, FreshSaltAndNonceEverySeal) {
  const std::string first = SealEnvelope("same", "pw", kCheap);
  const std::string second = SealEnvelope("same", "pw", kCheap);
  EXPECT_NE(first.substr(18, 40), second.substr(18, 40));
  EXPECT_NE(first.substr(58), second.substr(58));
}

TEST(EnvelopeOpenTest, AWrongPassphraseGivesNothing) {
  const std::string envelope = SealEnvelope("secret", "right", kCheap);
  for (const char* wrong : {"wrong", "Right", "right ", ""}) {
    std::string opened = "left over";
    EXPECT_EQ(OpenEnvelope(envelope, wrong, opened), TEnvelopeStatus::WrongPassphrase) << wrong;
    EXPECT_TRUE(opened.empty());
  }
}

TEST(EnvelopeOpenTest, EveryChangedByteIsCaught) {
  const std::string envelope =
      SealEnvelopeWith("a short secret", "pw", kCheap, CountingSalt(), CountingNonce());
  for (std::size_t at = 0; at < envelope.size(); ++at) {
    std::string changed = envelope;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    std::string opened;
    EXPECT_NE(OpenEnvelope(changed, "pw", opened), TEnvelopeStatus::Ok) << "byte " << at;
    EXPECT_TRUE(opened.empty());
  }
}

TEST(EnvelopeOpenTest, BadHeadersAreRefusedBeforeAnyKeyDerivation) {
  const std::string good = SealEnvelopeWith("msg", "pw", kCheap, CountingSalt(), CountingNonce());
  const auto with = [&](std::size_t offset, std::string_view bytes) {
    std::string changed = good;
    changed.replace(offset, bytes.size(), bytes);
    return changed;
  };
  const struct {
    const char* what;
    std::string bytes;
    TEnvelopeStatus status;
  } rows[] = {
      {"magic only", good.substr(0, 8), TEnvelopeStatus::Damaged},
      {"one byte short of a header and tag", good.substr(0, 73), TEnvelopeStatus::Damaged},
      {"version 0", with(8, std::string(1, '\0')), TEnvelopeStatus::Damaged},
      {"version 2", with(8, "\x02"), TEnvelopeStatus::NewerVersion},
      {"version 2, cut after it", with(8, "\x02").substr(0, 9), TEnvelopeStatus::NewerVersion},
      {"Argon2i instead of Argon2id", with(9, "\x01"), TEnvelopeStatus::Damaged},
      {"no passes", with(10, std::string(4, '\0')), TEnvelopeStatus::Damaged},
      {"4 KiB", with(14, std::string("\x04\0\0\0", 4)), TEnvelopeStatus::Damaged},
      {"9 passes", with(10, std::string("\x09\0\0\0", 4)), TEnvelopeStatus::TooCostly},
      {"4 GiB of memory", with(14, "\xff\xff\xff\xff"), TEnvelopeStatus::TooCostly},
  };
  for (const auto& row : rows) {
    std::string opened;
    EXPECT_EQ(OpenEnvelope(row.bytes, "pw", opened), row.status) << row.what;
    EXPECT_TRUE(opened.empty()) << row.what;
  }
}

TEST(EnvelopeOpenTest, TextsThatAreNotEnvelopes) {
  for (const char* text : {"", "hello", "\x89VeilPW", "\x89VeilPX\x1a\x01"}) {
    EXPECT_FALSE(IsEnvelope(text)) << text;
  }
}

TEST(EnvelopeSealTest, RefusesCostsNoReaderAccepts) {
  for (const TPassphraseCost cost :
       {TPassphraseCost{0, 8}, TPassphraseCost{1, 7}, TPassphraseCost{kMaxPassphrasePasses + 1, 8},
        TPassphraseCost{1, kMaxPassphraseMemoryKiB + 1}}) {
    EXPECT_THROW(SealEnvelope("m", "pw", cost), std::invalid_argument);
  }
}

// The envelope rides the unchanged carrier: any build reads back its bytes, and this one opens them.
TEST(EnvelopeCarrierTest, AnEnvelopeHiddenInAnImageOpens) {
  test::HeadlessView view;
  view.Bitmap()->Allocate(40, 30, pf24bit);
  TImageProc proc;
  proc.SetAttachedView(&view);
  const std::string envelope = SealEnvelope("hidden and sealed", "pw", kCheap);
  ASSERT_LE(envelope.size(), static_cast<std::size_t>(proc.HiddenTextFit()));
  proc.WriteHiddenText(envelope);
  std::string read;
  proc.ReadHiddenText(read);
  ASSERT_TRUE(IsEnvelope(read));
  std::string opened;
  ASSERT_EQ(OpenEnvelope(read, "pw", opened), TEnvelopeStatus::Ok);
  EXPECT_EQ(opened, "hidden and sealed");
}

}  // namespace
