// A production record is appended on the station's own thread when a part finishes, so the
// append (both day files, lock, write, and with Synced the flush to the disk) must stay far
// below the 10 ms tick. Reading a day of records is what `korvan-cli records` does.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "core/records/record_log.h"

namespace {

namespace fs = std::filesystem;

korvan::ProductionRecord SampleRecord() {
  korvan::ProductionRecord r;
  r.time = "2026-12-10T14:03:22+08:00";
  r.host = "line-3";
  r.channel = 2;
  r.port = "/dev/ttyUSB1";
  r.programmer = "Korvan200NAT V2.9";
  r.chip = "N32G452CBL7";
  r.origin = korvan::RecordOrigin::StandAlone;
  r.imageCrc = 0x1A2B;
  r.imageSum = 0x00FF;
  r.optionSum = 0x5AA5;
  r.serialNumber = 0x40000003;
  r.result = 6;
  r.resultText = "Successed!";
  r.pass = true;
  return r;
}

// A folder under the build tree (a real disk, not tmpfs), removed afterwards.
class Folder {
 public:
  Folder() {
    std::string pattern = (fs::current_path() / "bench-records-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~Folder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void BM_AppendRecord(benchmark::State& state) {
  Folder folder;
  const auto durability = state.range(0) ? korvan::Durability::Synced : korvan::Durability::Flushed;
  const korvan::RecordLog log(folder.path(), durability);
  korvan::ProductionRecord r = SampleRecord();
  for (auto _ : state) {
    ++r.okCount;
    if (log.Append(r)) state.SkipWithError("append failed");
  }
  state.SetLabel(state.range(0) ? "synced" : "flushed");
}
BENCHMARK(BM_AppendRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ReadDayOfRecords(benchmark::State& state) {
  Folder folder;
  const korvan::RecordLog log(folder.path(), korvan::Durability::Flushed);
  korvan::ProductionRecord r = SampleRecord();
  const auto count = state.range(0);
  for (std::int64_t i = 0; i < count; ++i) {
    r.okCount = static_cast<std::uint32_t>(i);
    log.Append(r);
  }
  for (auto _ : state) {
    const korvan::RecordListing listing = korvan::ReadRecords(folder.path());
    benchmark::DoNotOptimize(listing.entries.size());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ReadDayOfRecords)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
