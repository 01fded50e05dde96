// The station's receive path: blocks handed to a channel's receive handler as its port
// delivers them, through frame cutting, decoding and the reply dispatch into every reply
// handler (identity replies and progress reports included). The station has no ports: the
// requests its handlers send go nowhere.
//
// Input: channel (byte 0, 1..4), the pending command (byte 1, from the table below or taken
// as it stands), flags (byte 2: auto, busy, data phase, not connected, checkCtrl bit 1), the
// block index and block count (16 bits each), the part's size in KiB (16 bits); then blocks,
// each a length byte and that many bytes.
#include <stdlib.h>

#include <cstdlib>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app/station.h"
#include "fuzz_support.h"

namespace {

using namespace korvan;

// Every pending command a reply can meet, those of the station's operations (idle among them),
// in ascending order: the seeds name them by their index here.
const std::vector<std::uint8_t> kPending = [] {
  std::vector<std::uint8_t> codes;
  for (const StationOperation& op : Station::Operations()) codes.push_back(op.link.pending);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  return codes;
}();

struct Rig {
  Rig() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvan-fuzz-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
    station.SetPortSources({dir / "no-sysfs", dir / "no-dev", ""});
    station.FormShow({dir, "", ""});
    station.SetRandom([] { return std::uint8_t{0x55}; });
  }
  ~Rig() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  fuzz::AnswerOkFrontend frontend;
  Station station{frontend, [] { return LocalTime{2026, 12, 10, 4, 20, 0}; }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Destroyed at exit, which takes its folder (and the periodic logs in it) away.
  static Rig* rig = new Rig();
  static const int cleanup = std::atexit([] { delete rig; });
  (void)cleanup;
  Station& station = rig->station;
  fuzz::Input in(data, size);

  const int n = in.Byte() % kChannelCount + 1;
  const std::uint8_t pendingIndex = in.Byte();
  const std::uint8_t flags = in.Byte();
  const std::uint16_t blockIndex = in.Word();
  const std::uint16_t blockCount = in.Word();
  const std::uint16_t sizeKb = in.Word();

  ChipRecord& chip = station.chip();
  chip.chipConfirmed = 1;
  chip.flashSizeKB = sizeKb;
  chip.blockCount = sizeKb;
  chip.flashEnd = chip.flashStart + sizeKb * 1024u - 1;
  station.settings().checkCtrl = (flags & 0x10) ? 0x02 : 0x00;

  ChannelState& ch = station.ChannelStateForTest(n);
  ch.connected = (flags & 0x08) ? 0 : 1;
  ch.pendingCommand = pendingIndex < kPending.size() ? kPending[pendingIndex] : pendingIndex;
  ch.autoFlag = flags & 0x01;
  ch.busy = (flags >> 1) & 0x01;
  ch.dataPhase = (flags >> 2) & 0x01;
  ch.blockIndex = blockIndex;
  ch.blockCount = blockCount;

  while (!in.Empty()) {
    const std::uint8_t head = in.Byte();
    station.ReceiveData(n, in.Bytes(head & 0x80 ? (head & 0x7F) * 4u : head));
  }

  // The next input starts from an idle station with an empty panel and no bytes held back.
  station.ReceiveError(n);
  for (int c = 1; c <= kChannelCount; ++c) station.ChannelStateForTest(c).EndOperation(false);
  station.ClearInformation1Click();
  return 0;
}
