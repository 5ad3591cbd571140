#include "hidden/Crypt32.h"

namespace veilora {
namespace {

enum class Direction { kEncrypt, kDecrypt };

std::string Transform(std::string_view text, std::uint16_t startKey, std::uint16_t multiplierKey,
                      std::uint16_t additiveKey, Direction direction) {
  std::string result(text.size(), '\0');
  std::uint16_t key = startKey;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto in = static_cast<std::uint8_t>(text[i]);
    const auto out = static_cast<std::uint8_t>(in ^ (key >> 8));
    result[i] = static_cast<char>(out);
    const std::uint8_t cipherByte = direction == Direction::kEncrypt ? out : in;
    // Computed in unsigned int and cut to 16 bits: the same as wrapping 16-bit arithmetic.
    key = static_cast<std::uint16_t>((cipherByte + key) * unsigned{multiplierKey} + additiveKey);
  }
  return result;
}

}  // namespace

std::string EncryptText(std::string_view text, std::uint16_t startKey, std::uint16_t multiplierKey,
                        std::uint16_t additiveKey) {
  return Transform(text, startKey, multiplierKey, additiveKey, Direction::kEncrypt);
}

std::string DecryptText(std::string_view text, std::uint16_t startKey, std::uint16_t multiplierKey,
                        std::uint16_t additiveKey) {
  return Transform(text, startKey, multiplierKey, additiveKey, Direction::kDecrypt);
}

}  // namespace veilora
