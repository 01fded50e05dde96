// Every finished part goes into the record store and the day files on the station's own thread,
// so that append (synced: both reach the disk) must stay far below a part's cycle. Looking up a
// chip UID must not grow with the number of records: the store holds a line's production for
// years, and `korvan-cli records --uid` answers from an index.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/records/record_keeper.h"
#include "core/util/format.h"

namespace {

namespace fs = std::filesystem;

korvan::ProductionRecord SampleRecord(std::uint32_t n) {
  korvan::ProductionRecord r;
  r.recordId = korvan::NewRecordId();
  r.time = korvan::Format("2026-%02u-%02uT%02u:%02u:%02u+08:00", 1 + n / 2678400 % 12,
                          1 + n / 86400 % 28, n / 3600 % 24, n / 60 % 60, n % 60);
  r.host = "line-3";
  r.channel = static_cast<int>(1 + n % 4);
  r.port = "/dev/ttyUSB" + std::to_string(n % 4);
  r.programmer = "Korvan200NAT V2.9";
  r.chip = "N32G457VEL7";
  r.imageCrc = 0x1A2B;
  r.serialNumber = n;
  r.serialNumberAddress = 0xFFF0;
  r.chipUid = korvan::Format("%08X%016llX", 0x1234u, 0x9E3779B97F4A7C15ull * (n + 1));
  r.pass = n % 50 != 0;
  r.result = r.pass ? 0 : 0x12;
  r.resultText = r.pass ? "操作成功！" : "校验失败";
  r.okCount = n;
  return r;
}

// A folder under the build tree (a real disk, not tmpfs), removed afterwards.
class Folder {
 public:
  Folder() {
    std::string pattern = (fs::current_path() / "bench-record-store-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~Folder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void BM_AppendToStoreAndDayFiles(benchmark::State& state) {
  Folder folder;
  korvan::RecordKeeper keeper(folder.path(), korvan::Durability::Synced);
  std::uint32_t n = 0;
  for (auto _ : state) {
    if (keeper.Append(SampleRecord(n++))) state.SkipWithError("append failed");
  }
  state.SetLabel("synced");
}
BENCHMARK(BM_AppendToStoreAndDayFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

// Stores of each size, generated once (straight into the store, many records a transaction).
struct GeneratedStore {
  Folder folder;
  std::unique_ptr<korvan::RecordStore> store;
};
GeneratedStore& StoreOf(std::int64_t count) {
  static std::map<std::int64_t, std::unique_ptr<GeneratedStore>> stores;
  auto& slot = stores[count];
  if (slot) return *slot;
  slot = std::make_unique<GeneratedStore>();
  std::string error;
  slot->store = korvan::RecordStore::Open(slot->folder.path(), &error, korvan::Durability::Flushed);
  std::vector<korvan::ProductionRecord> batch;
  for (std::int64_t n = 0; n < count; ++n) {
    batch.push_back(SampleRecord(static_cast<std::uint32_t>(n)));
    if (batch.size() == 50000 || n + 1 == count) {
      slot->store->AppendMany(batch, true, &error);
      batch.clear();
    }
  }
  return *slot;
}

void BM_LookUpUid(benchmark::State& state) {
  GeneratedStore& generated = StoreOf(state.range(0));
  std::uint32_t k = 0;
  for (auto _ : state) {
    korvan::RecordQuery query;
    // A UID somewhere in the store, a different one each time.
    query.chipUid = SampleRecord(static_cast<std::uint32_t>((k++ * 7919) % state.range(0))).chipUid;
    const auto rows = generated.store->Find(query);
    if (rows.size() != 1) state.SkipWithError("not found once");
    benchmark::DoNotOptimize(rows);
  }
  state.SetLabel(std::to_string(state.range(0)) + " records");
}
BENCHMARK(BM_LookUpUid)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
