// Reading speed of the object-file readers: 1 MiB of data as Intel HEX (16-byte records,
// ~2.9 MB of text) and as S-records (S3, 16 bytes each), parsed into the flash image.
// Target: at least 400 MB/s of input text.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "core/job/frontend.h"
#include "core/image/readers.h"
#include "core/util/format.h"

namespace {

using namespace korvan;

class SilentFrontend : public Frontend {
 public:
  Answer Ask(MessageKind, const std::string&, Buttons) override { return Answer::Ok; }
  std::optional<FileChoice> ChooseOpenFile(const FileDialog&) override { return {}; }
  std::optional<FileChoice> ChooseSaveFile(const FileDialog&) override { return {}; }
  std::optional<std::string> AskLoadOffset(const std::string& shown) override { return shown; }
  std::optional<ReadAddressEntry> AskReadAddress(const std::string&, int) override { return {}; }
};

constexpr std::uint32_t kBase = 0x08000000;
constexpr std::uint32_t kDataSize = 1 << 20;

std::vector<std::uint8_t> Data() {
  std::vector<std::uint8_t> data(kDataSize);
  std::mt19937 random(7);
  for (auto& b : data) b = static_cast<std::uint8_t>(random());
  return data;
}

std::string HexText() {
  const auto data = Data();
  std::string text;
  text.reserve(3'000'000);
  for (std::uint32_t a = 0; a < kDataSize; a += 16) {
    const std::uint32_t address = kBase + a;
    if ((address & 0xFFFF) == 0) {
      const unsigned upper = address >> 16;
      text += Format(":02000004%04X%02X\r\n", upper,
                     (0x100 - ((6 + (upper >> 8) + (upper & 0xFF)) & 0xFF)) & 0xFF);
    }
    unsigned sum = 16 + ((address >> 8) & 0xFF) + (address & 0xFF);
    text += Format(":10%04X00", address & 0xFFFF);
    for (int i = 0; i < 16; ++i) {
      text += Format("%02X", data[a + i]);
      sum += data[a + i];
    }
    text += Format("%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
  }
  text += ":00000001FF\r\n";
  return text;
}

std::string S19Text() {
  const auto data = Data();
  std::string text;
  text.reserve(3'300'000);
  for (std::uint32_t a = 0; a < kDataSize; a += 16) {
    const std::uint32_t address = kBase + a;
    unsigned sum = 21;
    text += Format("S315%08X", address);
    for (int i = 0; i < 4; ++i) sum += (address >> (8 * i)) & 0xFF;
    for (int i = 0; i < 16; ++i) {
      text += Format("%02X", data[a + i]);
      sum += data[a + i];
    }
    text += Format("%02X\n", ~sum & 0xFF);
  }
  text += "S70500000000FA\n";
  return text;
}

template <bool kHex>
void BM_Load(benchmark::State& state) {
  const std::string text = kHex ? HexText() : S19Text();
  ImageBuffer image;
  image.windows.flashEnd = kBase + kDataSize - 1;
  SilentFrontend frontend;
  const ReadTarget target{image.flash, kBase, &image, {}};
  for (auto _ : state) {
    ReadExtent extent;
    const LoadResult result = kHex ? LoadHexText(text, target, frontend, extent)
                                   : LoadS19Text(text, target, frontend, extent);
    if (result.lineErrors != 0 || extent.highest != kBase + kDataSize - 1) {
      state.SkipWithError("the generated file did not load cleanly");
      break;
    }
    benchmark::DoNotOptimize(image.flash.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.counters["text_bytes"] = static_cast<double>(text.size());
}

BENCHMARK(BM_Load<true>)->Name("LoadHexText_1MiB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load<false>)->Name("LoadS19Text_1MiB")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
