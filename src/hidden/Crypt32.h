#pragma once

// The message cipher: a keyed byte stream cipher whose running key is fed back from the cipher
// text. For each byte: out = in XOR (high byte of the key); then
// key = (cipher byte + key) * multiplier + additive, modulo 2^16. Both directions feed the cipher
// byte back, so decrypting with the same keys restores any byte string exactly.

#include <cstdint>
#include <string>
#include <string_view>

namespace veilora {

// The keys the document window encrypts and decrypts with. Texts scrambled under other keys
// cannot be read back, so these values are part of the stored format and never change.
constexpr std::uint16_t kTextStartKey = 719;
constexpr std::uint16_t kTextMultiplierKey = 40213;
constexpr std::uint16_t kTextAdditiveKey = 12659;

std::string EncryptText(std::string_view text, std::uint16_t startKey, std::uint16_t multiplierKey,
                        std::uint16_t additiveKey);

std::string DecryptText(std::string_view text, std::uint16_t startKey, std::uint16_t multiplierKey,
                        std::uint16_t additiveKey);

}  // namespace veilora
