#include "io/FaxCodec.h"

namespace veilora {

// Scaffolding until the fax coders land: nothing decodes, nothing is written.
struct TFaxEncoder::TState {};

std::int32_t FaxDecodeStrip(const std::uint8_t*, std::size_t, const TFaxOptions&, std::int32_t, std::int32_t,
                            std::uint8_t*) {
  return 0;
}
TFaxEncoder::TFaxEncoder(TStream&, const TFaxOptions&, std::int32_t) : state_(std::make_unique<TState>()) {}
TFaxEncoder::~TFaxEncoder() = default;
void TFaxEncoder::EncodeRow(const std::uint8_t*) {}
void TFaxEncoder::Finish() {}

}  // namespace veilora
