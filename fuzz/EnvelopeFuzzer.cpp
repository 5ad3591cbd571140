// Feeds arbitrary bytes to the passphrase envelope reader, as a hostile image's hidden text does,
// and seals and opens the same bytes as a message to check the round trip.
//
// A read envelope is opened only when it names a cheap key derivation (the reader accepts up to
// 256 MiB, which is right for a user's image but would only slow the fuzzer down).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hidden/Envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veilora;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TEnvelopeInfo info;
  const TEnvelopeStatus status = ReadEnvelopeInfo(bytes, info);
  if (status == TEnvelopeStatus::Ok) {
    if (info.messageBytes != size - kEnvelopeOverhead) std::abort();
    if (info.cost.passes <= 2 && info.cost.memoryKiB <= 64) {
      std::string message = "left over";
      const TEnvelopeStatus opened = OpenEnvelope(bytes, "fuzz", message);
      if (opened == TEnvelopeStatus::Ok ? message.size() != info.messageBytes : !message.empty())
        std::abort();
    }
  }
  if (status != TEnvelopeStatus::Damaged && !IsEnvelope(bytes)) std::abort();

  // The input as a message: the first byte says how much of the rest is the passphrase.
  if (size == 0) return 0;
  const std::size_t passphraseBytes = data[0] % size;
  const std::string_view passphrase = bytes.substr(1, passphraseBytes);
  const std::string_view message = bytes.substr(1 + passphraseBytes);
  TEnvelopeSalt salt{};
  TEnvelopeNonce nonce{};
  const std::string sealed = SealEnvelopeWith(message, passphrase, kMinimumPassphraseCost, salt, nonce);
  std::string opened;
  if (OpenEnvelope(sealed, passphrase, opened) != TEnvelopeStatus::Ok || opened != message) std::abort();
  return 0;
}
