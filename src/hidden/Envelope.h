#pragma once

// The passphrase envelope: a message sealed under a passphrase, as the byte string the hidden-text
// carrier stores in place of the plain message. The carrier itself is unchanged, so every build
// reads such an image; a build that knows envelopes recognises one by its magic and asks for the
// passphrase.
//
// Layout, version 1 (integers little-endian; offsets in bytes):
//
//   offset  size  content
//        0     8  magic: 0x89 'V' 'e' 'i' 'l' 'P' 'W' 0x1A
//        8     1  version: 1
//        9     1  key derivation: 2 = Argon2id version 1.3 (libsodium's crypto_pwhash_ALG_ARGON2ID13)
//       10     4  Argon2id passes (libsodium's opslimit), 1 to kMaxPassphrasePasses
//       14     4  Argon2id memory in KiB (memlimit / 1024), 8 to kMaxPassphraseMemoryKiB
//       18    16  salt of the key derivation
//       34    24  nonce of XChaCha20-Poly1305 (IETF construction)
//       58     n  cipher text: the n message bytes encrypted
//     58+n    16  Poly1305 tag
//
// The 32-byte key is Argon2id(passphrase, salt, passes, memory). The associated data of the AEAD
// is the whole 58-byte header, so a changed cost, salt or nonce fails like a wrong passphrase.
// The message length n is the envelope length minus 74; nothing else stores it. Reading uses the
// cost the envelope names, so a cheap test envelope and a costly real one read the same way; the
// reader refuses costs above the limits below, which keeps a hostile image from asking for
// gigabytes of memory or minutes of work.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veilora {

struct TPassphraseCost {
  std::uint32_t passes = 0;
  std::uint32_t memoryKiB = 0;
};

// What the program writes: libsodium's "interactive" Argon2id level, 2 passes over 64 MiB, which
// takes well under a second on a desktop machine.
inline constexpr TPassphraseCost kInteractivePassphraseCost{2, 64 * 1024};
// The cheapest cost Argon2id accepts (1 pass, 8 KiB): for tests, never for real messages.
inline constexpr TPassphraseCost kMinimumPassphraseCost{1, 8};
// The most a reader spends: 8 passes over 256 MiB (libsodium's "moderate" memory).
inline constexpr std::uint32_t kMaxPassphrasePasses = 8;
inline constexpr std::uint32_t kMaxPassphraseMemoryKiB = 256 * 1024;

inline constexpr std::uint8_t kEnvelopeVersion = 1;
inline constexpr std::size_t kEnvelopeMagicBytes = 8;
inline constexpr std::size_t kEnvelopeSaltBytes = 16;
inline constexpr std::size_t kEnvelopeNonceBytes = 24;
inline constexpr std::size_t kEnvelopeHeaderBytes = 58;
inline constexpr std::size_t kEnvelopeTagBytes = 16;
// Bytes an envelope adds to its message.
inline constexpr std::size_t kEnvelopeOverhead = kEnvelopeHeaderBytes + kEnvelopeTagBytes;

using TEnvelopeSalt = std::array<std::uint8_t, kEnvelopeSaltBytes>;
using TEnvelopeNonce = std::array<std::uint8_t, kEnvelopeNonceBytes>;

enum class TEnvelopeStatus {
  Ok,
  Damaged,          // too short, an unknown key derivation, or a cost no writer uses
  NewerVersion,     // a version this build does not know
  TooCostly,        // a cost above the reader's limits
  WrongPassphrase,  // the tag does not match: a wrong passphrase or changed bytes
  OutOfMemory,      // the key derivation could not get its memory
};

struct TEnvelopeInfo {
  std::uint8_t version = 0;
  TPassphraseCost cost;
  std::size_t messageBytes = 0;
};

// Whether the bytes start with the envelope's magic. A built-in-cipher text or a typed text starts
// so with a chance of 2^-64.
bool IsEnvelope(std::string_view bytes);

// Checks an envelope's header without deriving a key. Fills info when the status is Ok, and its
// version too for NewerVersion.
TEnvelopeStatus ReadEnvelopeInfo(std::string_view bytes, TEnvelopeInfo& info);

// Seals the message with a fresh random salt and nonce. Raises EVeiloraError when the key
// derivation cannot get its memory, std::invalid_argument for a cost outside the limits.
std::string SealEnvelope(std::string_view message, std::string_view passphrase,
                         TPassphraseCost cost = kInteractivePassphraseCost);
// The same with a given salt and nonce. A nonce must never be used twice with one key; only tests
// and reproducible fixtures choose their own.
std::string SealEnvelopeWith(std::string_view message, std::string_view passphrase, TPassphraseCost cost,
                             const TEnvelopeSalt& salt, const TEnvelopeNonce& nonce);

// Opens an envelope. On Ok, message holds the plain bytes; otherwise it is left empty, so no
// undecrypted or half-decrypted byte ever reaches a caller.
TEnvelopeStatus OpenEnvelope(std::string_view envelope, std::string_view passphrase, std::string& message);

// A short English sentence for a status, for the command-line program.
const char* EnvelopeStatusText(TEnvelopeStatus status);

}  // namespace veilora
