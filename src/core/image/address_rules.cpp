#include "core/image/address_rules.h"

#include <algorithm>

#include "core/util/format.h"

namespace korvan {

std::string LoadOffsetShownText(std::uint32_t flashStart) {
  return Format("0x%08X", flashStart);
}

std::optional<std::int32_t> LoadOffsetFromText(std::string_view text, std::uint32_t flashStart) {
  const auto value = ParseInteger(text);
  if (!value) return std::nullopt;
  // The offset is a signed 32-bit value, as the address arithmetic of the dialog wraps.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value) - flashStart);
}

std::int64_t LoadOffsetIndex(std::int32_t loadOffset) {
  return static_cast<std::int64_t>(loadOffset) & ~std::int64_t{0xF};
}

std::string ReadAddressShownText(std::uint32_t readAddress) {
  return Format("0x%08X", readAddress);
}

std::optional<std::uint32_t> ReadAddressFromText(std::string_view text) {
  const auto value = ParseInteger(text);
  if (!value || *value < 0 || *value > 0xFFFFFFFF) return std::nullopt;
  return static_cast<std::uint32_t>(*value) & ~std::uint32_t{0xF};
}

std::uint16_t ReadLengthFromSpin(int value) {
  const int clamped = std::clamp(value, kReadLengthMin, kReadLengthMax);
  return static_cast<std::uint16_t>(clamped - clamped % kReadLengthStep);
}

}  // namespace korvan
