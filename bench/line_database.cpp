// The line database against a local PostgreSQL server of the benchmark's own (as the tests start
// one): how fast the forwarder empties a station's outbox of 16 channels' records, and how long
// the serial-number reservation of a run takes. Records are made straight into the store, at
// memory speed, so the figure is the forwarder's and the database's, not the programmers'.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "core/line/line_database.h"
#include "core/line/line_forwarder.h"
#include "core/records/record_store.h"
#include "support/postgres_server.h"

namespace {

namespace fs = std::filesystem;
using korvan::testing::PostgresServer;


PostgresServer* Server(benchmark::State& state) {
  std::string problem;
  PostgresServer* server = PostgresServer::Shared(&problem);
  if (server == nullptr) state.SkipWithError(("no PostgreSQL server: " + problem).c_str());
  return server;
}

korvan::ProductionRecord Record(int n) {
  korvan::ProductionRecord r;
  r.recordId = "bench" + std::to_string(n);
  r.time = "2026-12-10T14:03:22+08:00";
  r.host = "line-3";
  r.channel = n % 16 + 1;
  r.port = "/dev/ttyUSB" + std::to_string(n % 16);
  r.programmer = "Korvan200NAT V2.9";
  r.chip = "N32G452CBL7";
  r.imageCrc = 0x1A2B;
  r.serialNumber = static_cast<std::uint32_t>(n);
  r.serialNumberAddress = 0xFFF0;
  r.chipUid = "0011223344556677889900AA";
  r.result = 6;
  r.resultText = "Successed!";
  r.pass = true;
  return r;
}

// Forwards `records` records (16 channels' worth) from a fresh store to a fresh database.
void BM_ForwardOutbox(benchmark::State& state) {
  PostgresServer* server = Server(state);
  if (server == nullptr) return;
  const int records = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    std::string error;
    const std::string url = server->CreateDatabase(&error);
    std::string pattern = (fs::current_path() / "bench-outbox-XXXXXX").string();
    const fs::path folder = ::mkdtemp(pattern.data());
    {
      auto store = korvan::RecordStore::Open(folder, &error);
      for (int i = 0; i < records; ++i) store->Append(Record(i), &error);
      // The schema is made before the clock runs.
      korvan::LineDatabase::Connect(url, &error);
    }
    korvan::LineForwarder forwarder(folder, url, nullptr);
    state.ResumeTiming();
    if (!forwarder.Start(&error) || !forwarder.Flush(std::chrono::minutes(5))) {
      state.SkipWithError(("not forwarded: " + error).c_str());
    }
    state.PauseTiming();
    forwarder.Stop();
    fs::remove_all(folder);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_ForwardOutbox)->Arg(16 * 1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// One run's reservation: 16 channels' ranges in one transaction, with other stations' 64
// reservations and 10,000 recorded parts already on the line.
void BM_ReserveSerialNumbers(benchmark::State& state) {
  PostgresServer* server = Server(state);
  if (server == nullptr) return;
  std::string error;
  const std::string url = server->CreateDatabase(&error);
  auto db = korvan::LineDatabase::Connect(url, &error);
  if (!db) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<korvan::StoredRecord> parts;
  for (int i = 0; i < 10000; ++i) parts.push_back({i + 1, Record(1000000 + i), false});
  db->Insert("other", parts, &error);
  for (int s = 0; s < 4; ++s) {
    std::vector<korvan::SerialRange> ranges;
    for (int c = 1; c <= 16; ++c) {
      const std::uint32_t first = static_cast<std::uint32_t>((s * 16 + c) * 100000);
      ranges.push_back({c, "N32G452CBL7", 0xFFF0, first, first + 999});
    }
    db->Reserve("other" + std::to_string(s), "line-" + std::to_string(s), ranges, false, &error);
  }
  std::vector<korvan::SerialRange> mine;
  for (int c = 1; c <= 16; ++c) {
    const std::uint32_t first = static_cast<std::uint32_t>(0x80000000u + c * 100000u);
    mine.push_back({c, "N32G452CBL7", 0xFFF0, first, first + 999});
  }
  for (auto _ : state) {
    auto held = db->Reserve("me", "line-9", mine, false, &error);
    if (!held || !held->empty()) state.SkipWithError("reservation refused or failed");
  }
}
BENCHMARK(BM_ReserveSerialNumbers)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
