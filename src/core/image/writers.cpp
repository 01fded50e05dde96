#include "core/image/writers.h"

#include <algorithm>
#include <string_view>

#include "core/util/atomic_file.h"

namespace korvan {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void PutByte(std::string& out, std::uint8_t b) {
  out.push_back(kDigits[b >> 4]);
  out.push_back(kDigits[b & 0xF]);
}

class ByteSource {
 public:
  ByteSource(std::span<const std::uint8_t> bytes, std::uint32_t base)
      : bytes_(bytes), base_(base) {}
  std::uint8_t At(std::uint32_t address) const {
    const std::uint32_t index = address - base_;
    return address >= base_ && index < bytes_.size() ? bytes_[index] : 0xFF;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint32_t base_;
};

// One Intel HEX record: ":" count offset type data checksum CR LF.
void HexRecord(std::string& out, std::uint8_t type, std::uint16_t offset, const ByteSource& src,
               std::uint32_t first, std::uint32_t count) {
  out.push_back(':');
  std::uint32_t sum = count + (offset >> 8) + (offset & 0xFF) + type;
  PutByte(out, static_cast<std::uint8_t>(count));
  PutByte(out, static_cast<std::uint8_t>(offset >> 8));
  PutByte(out, static_cast<std::uint8_t>(offset));
  PutByte(out, type);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t b = src.At(first + i);
    PutByte(out, b);
    sum += b;
  }
  PutByte(out, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  out += "\r\n";
}

void LinearAddressRecord(std::string& out, std::uint16_t upper) {
  const std::uint32_t sum = 0x02 + 0x04 + (upper >> 8) + (upper & 0xFF);
  out += ":02000004";
  PutByte(out, static_cast<std::uint8_t>(upper >> 8));
  PutByte(out, static_cast<std::uint8_t>(upper));
  PutByte(out, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  out += "\r\n";
}

}  // namespace

std::string FormatHexFile(std::span<const std::uint8_t> bytes, std::uint32_t base,
                          std::uint32_t start, std::uint32_t end) {
  const ByteSource src(bytes, base);
  std::string out;
  const std::uint64_t total = end >= start ? std::uint64_t{end} - start + 1 : 0;
  out.reserve(static_cast<std::size_t>(total / 32 * 77 + total / 0x10000 * 17 + 128));
  if (end <= 0xFFFF) {
    for (std::uint64_t a = start; a <= end && total > 0; a += 16) {
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(16, end - a + 1));
      HexRecord(out, 0x00, static_cast<std::uint16_t>(a), src, static_cast<std::uint32_t>(a),
                count);
    }
  } else {
    LinearAddressRecord(out, static_cast<std::uint16_t>(start >> 16));
    std::uint64_t a = start;
    while (a <= end && total > 0) {
      // Up to 32 bytes, cut at the end of the range and at the next 64 KiB boundary.
      const std::uint64_t boundary = (a | 0xFFFF) + 1;
      const std::uint64_t stop =
          std::min<std::uint64_t>({a + 32, std::uint64_t{end} + 1, boundary});
      HexRecord(out, 0x00, static_cast<std::uint16_t>(a), src, static_cast<std::uint32_t>(a),
                static_cast<std::uint32_t>(stop - a));
      a = stop;
      if (a == boundary && a <= end) LinearAddressRecord(out, static_cast<std::uint16_t>(a >> 16));
    }
  }
  out += ":00000001FF\r\n";
  return out;
}

std::string FormatS19File(std::span<const std::uint8_t> bytes, std::uint32_t base,
                          std::uint32_t start, std::uint32_t end) {
  const ByteSource src(bytes, base);
  char kind = '3';
  int addressBytes = 4;
  std::string_view termination = "S70500000000FA\r\n";
  if (end <= 0xFFFF) {
    kind = '1';
    addressBytes = 2;
    termination = "S9030000FC\r\n";
  } else if (end <= 0xFFFFFF) {
    kind = '2';
    addressBytes = 3;
    termination = "S804000000FB\r\n";
  }
  std::string out;
  const std::uint64_t total = end >= start ? std::uint64_t{end} - start + 1 : 0;
  out.reserve(static_cast<std::size_t>(total / 32 * 80 + 64));
  for (std::uint64_t a = start; a <= end && total > 0; a += 32) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(32, end - a + 1));
    const std::uint32_t length = count + addressBytes + 1;
    out.push_back('S');
    out.push_back(kind);
    PutByte(out, static_cast<std::uint8_t>(length));
    std::uint32_t sum = length;
    for (int i = addressBytes - 1; i >= 0; --i) {
      const auto b = static_cast<std::uint8_t>(a >> (8 * i));
      PutByte(out, b);
      sum += b;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t b = src.At(static_cast<std::uint32_t>(a + i));
      PutByte(out, b);
      sum += b;
    }
    PutByte(out, static_cast<std::uint8_t>(~sum));
    out += "\r\n";
  }
  out += termination;
  return out;
}

bool SaveBinFile(const std::string& path, std::span<const std::uint8_t> bytes, std::uint32_t first,
                 std::uint32_t last, std::string& error, Durability durability) {
  std::string_view contents;
  if (last >= first && first < bytes.size()) {
    const std::size_t stop = std::min<std::size_t>(std::size_t{last} + 1, bytes.size());
    contents = std::string_view(reinterpret_cast<const char*>(bytes.data()) + first, stop - first);
  }
  return WriteFileAtomically(path, contents, error, durability);
}

bool SaveHexFile(const std::string& path, std::span<const std::uint8_t> bytes, std::uint32_t base,
                 std::uint32_t start, std::uint32_t end, std::string& error,
                 Durability durability) {
  return WriteFileAtomically(path, FormatHexFile(bytes, base, start, end), error, durability);
}

bool SaveS19File(const std::string& path, std::span<const std::uint8_t> bytes, std::uint32_t base,
                 std::uint32_t start, std::uint32_t end, std::string& error,
                 Durability durability) {
  return WriteFileAtomically(path, FormatS19File(bytes, base, start, end), error, durability);
}

}  // namespace korvan
