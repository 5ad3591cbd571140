#include "hidden/Crypt32.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace veilora;

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

std::string RandomBytes(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::string EncryptWithTextKeys(const std::string& text) {
  return EncryptText(text, kTextStartKey, kTextMultiplierKey, kTextAdditiveKey);
}

std::string DecryptWithTextKeys(const std::string& text) {
  return DecryptText(text, kTextStartKey, kTextMultiplierKey, kTextAdditiveKey);
}

}  // namespace

// Texts already hidden in saved images were scrambled under these exact keys and this exact key
// schedule; any change here makes them unreadable.
TEST(Crypt32, CipherTextOfTheDocumentKeysIsStable) {
  EXPECT_EQ(EncryptWithTextKeys("abc"), Bytes({0x63, 0x7c, 0x21}));
  EXPECT_EQ(EncryptWithTextKeys("Hidden text\r\n"),
            Bytes({0x4a, 0xae, 0xb7, 0xa0, 0x89, 0xff, 0x91, 0x57, 0xc5, 0xfa, 0xcb, 0x7d, 0xfd}));
}

TEST(Crypt32, KeyArithmeticWrapsAtSixteenBits) {
  EXPECT_EQ(EncryptText(Bytes({0, 255, 0, 255}), 65535, 65535, 65535), Bytes({0xff, 0x00, 0x00, 0x00}));
  // All-zero keys never change the high byte, so the text passes unchanged.
  EXPECT_EQ(EncryptText("abc", 0, 0, 0), "abc");
}

TEST(Crypt32, EmptyTextGivesEmptyText) {
  EXPECT_EQ(EncryptWithTextKeys(""), "");
  EXPECT_EQ(DecryptWithTextKeys(""), "");
}

TEST(Crypt32, FirstByteDependsOnlyOnTheStartKey) {
  for (std::uint16_t multiplier : {0, 1, 40213, 65535}) {
    for (std::uint16_t additive : {0, 7, 65535}) {
      EXPECT_EQ(EncryptText("Z", 0x3A00, multiplier, additive), std::string(1, 'Z' ^ 0x3A));
    }
  }
}

TEST(Crypt32, DecryptRestoresEveryByteString) {
  std::string allValues;
  for (int value = 0; value < 256; ++value) allValues.push_back(static_cast<char>(value));
  const std::string cases[] = {
      allValues,
      std::string("line\r\nbreak\0zero\n\r", 19),
      RandomBytes(256, 1),
      RandomBytes(300, 2),
      RandomBytes(70000, 3),
  };
  for (const std::string& plain : cases) {
    SCOPED_TRACE(plain.size());
    const std::string cipher = EncryptWithTextKeys(plain);
    EXPECT_EQ(cipher.size(), plain.size());
    EXPECT_NE(cipher, plain);
    EXPECT_EQ(DecryptWithTextKeys(cipher), plain);
  }
}

TEST(Crypt32, DecryptRestoresUnderOtherKeys) {
  const std::string plain = RandomBytes(1000, 4);
  for (auto [start, multiplier, additive] : {std::tuple{0, 0, 0}, {999, 65535, 65535}, {100, 2, 1}}) {
    const auto s = static_cast<std::uint16_t>(start);
    const auto m = static_cast<std::uint16_t>(multiplier);
    const auto a = static_cast<std::uint16_t>(additive);
    EXPECT_EQ(DecryptText(EncryptText(plain, s, m, a), s, m, a), plain);
  }
}

TEST(Crypt32, CommonPrefixGivesCommonCipherPrefix) {
  const std::string first = "The meeting is at noon";
  const std::string second = "The meeting is off";
  const std::string a = EncryptWithTextKeys(first);
  const std::string b = EncryptWithTextKeys(second);
  EXPECT_EQ(a.substr(0, 15), b.substr(0, 15));
  EXPECT_NE(a[15], b[15]);
}

TEST(Crypt32, ChangedCipherByteSpoilsThatByteAndTheRest) {
  const std::string plain = RandomBytes(64, 5);
  std::string cipher = EncryptWithTextKeys(plain);
  cipher[10] = static_cast<char>(cipher[10] ^ 0x01);
  const std::string spoiled = DecryptWithTextKeys(cipher);
  EXPECT_EQ(spoiled.substr(0, 10), plain.substr(0, 10));
  EXPECT_NE(spoiled[10], plain[10]);
  EXPECT_NE(spoiled.substr(11), plain.substr(11));
}
