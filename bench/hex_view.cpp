// The flash viewer answers the rows on screen only: asking for one screenful (40 rows of 18
// cells) must take microseconds whatever the size of the image behind the view.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/job/hex_view.h"

namespace {

void BM_ScreenfulOfFlashRows(benchmark::State& state) {
  const std::size_t imageSize = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> image(imageSize);
  for (std::size_t i = 0; i < imageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  korvan::HexView view;
  view.Show(image, 0x08000000, imageSize / 16);
  constexpr std::size_t kScreenRows = 40;
  std::size_t top = 0;
  for (auto _ : state) {
    std::size_t characters = 0;
    for (std::size_t r = top; r < top + kScreenRows; ++r) {
      for (int c = 0; c < korvan::HexView::kColumns; ++c) characters += view.CellText(r, c).size();
    }
    benchmark::DoNotOptimize(characters);
    // Scroll somewhere else in the image for the next screenful.
    top = (top + 7919 * kScreenRows) % (view.RowCount() - kScreenRows);
  }
}
BENCHMARK(BM_ScreenfulOfFlashRows)
    ->Arg(64 << 10)
    ->Arg(512 << 10)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
