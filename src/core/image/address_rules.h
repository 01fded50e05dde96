// The rules behind the two address dialogs: where a raw binary file goes in the flash image
// (load offset) and which range a Read Specific Address operation asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvan {

// The load-offset dialog opens showing the flash start as "0x%0.8X".
std::string LoadOffsetShownText(std::uint32_t flashStart);

// The entered address (decimal, "0x..." or "$...") minus the flash start, as the signed 32-bit
// load offset; nullopt when the text is no number (the dialog then shows NotAnIntegerMessage).
std::optional<std::int32_t> LoadOffsetFromText(std::string_view text, std::uint32_t flashStart);

// The flash-image index a binary file starts at: the load offset with its low 4 bits cleared
// (negative when the address lies below the flash start; bytes below index 0 are not stored).
std::int64_t LoadOffsetIndex(std::int32_t loadOffset);

inline constexpr std::uint32_t kReadAddressInitial = 0;
inline constexpr int kReadLengthInitial = 32;
inline constexpr int kReadLengthMin = 16;
inline constexpr int kReadLengthMax = 4096;
inline constexpr int kReadLengthStep = 16;

// The read-address dialog shows the address as "0x%0.8X".
std::string ReadAddressShownText(std::uint32_t readAddress);

// The entered start address rounded down to a multiple of 16; nullopt when the text is no
// number or does not fit 32 bits unsigned (the address then keeps its previous value).
std::optional<std::uint32_t> ReadAddressFromText(std::string_view text);

// The read length the spin edit accepts: 16..4096, a multiple of 16. Values outside are brought
// to the nearest bound; values between steps are rounded down to a step.
std::uint16_t ReadLengthFromSpin(int value);

}  // namespace korvan
