// Soak runs of the whole station against four emulated programmers at memory speed.
//
//   BM_AutoSoak        1000 Auto cycles on four programmers: every cycle completes on every
//                      channel, the total counter and the panel's records are exact, and the
//                      resident memory after warm-up stays flat (the operator clears the panel
//                      every 100 cycles, after its records were counted; memory is read then).
//   BM_StandAloneSoak  10,000 stand-alone results (4 x 2500, every 25th a failure) with the
//                      periodic log every 500: counters exact, 20 logs, the last one complete.
//                      The panel keeps every line (about 11 per part), so memory grows with it;
//                      panel_KiB shows how much text it holds.
//
// A run that breaks a rule stops with an error. Under LeakSanitizer (the sanitizer build) any
// leak fails the program at exit.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/app/event_loop.h"
#include "core/app/station.h"
#include "core/chips/catalogue.h"
#include "core/chips/chip_select_form.h"
#include "core/util/format.h"
#include "lib/emulator.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;

// AddressSanitizer keeps freed memory in quarantine, resident: memory figures are shown under it
// but not judged.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kJudgeMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif
#else
constexpr bool kJudgeMemory = true;
#endif

// Resident memory of this process in KiB.
long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Answers every box positively, opens the one image file, picks one part in the chip dialog.
class SoakFrontend : public Frontend {
 public:
  std::string openPath;
  std::string part;
  Answer Ask(MessageKind, const std::string&, Buttons buttons) override {
    return buttons == Buttons::YesAbort ? Answer::Yes : Answer::Ok;
  }
  std::optional<FileChoice> ChooseOpenFile(const FileDialog&) override {
    return FileChoice{openPath, 2};
  }
  std::optional<FileChoice> ChooseSaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> AskLoadOffset(const std::string& shown) override { return shown; }
  std::optional<ReadAddressEntry> AskReadAddress(const std::string&, int) override {
    return std::nullopt;
  }
  void ShowChipDialog(TNChipSelectForm& d) override {
    const auto entry = FindPart(part);
    if (!entry) return;
    d.ListBoxSeries.itemIndex = entry->series;
    d.ListBoxSeriesClick();
    d.ListBoxChips.itemIndex = entry->position;
    d.ListBoxChipsClick();
    d.BitBtnOKClick();
  }
};

// A station on `options.count` emulated programmers, found and given a part and an image.
class SoakRig {
 public:
  SoakRig(const sim::Options& options, std::size_t imageBytes) : emulator_(options) {
    std::string pattern = (fs::temp_directory_path() / "korvan-soak-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
    std::string error;
    if (!emulator_.Start(&error)) {
      failure = "emulator: " + error;
      return;
    }
    std::string ports;
    for (const auto& path : emulator_.Paths()) ports += (ports.empty() ? "" : ":") + path;
    station.SetPortSources({dir / "no-sysfs", dir / "no-dev", ""});
    station.FormShow({dir, "", ""});
    station.SetPortSources({dir / "no-sysfs", dir / "no-dev", ports});
    loop.AddQueue(station.serialEvents());
    loop.SetTick([this] { station.Timer1Timer(); });

    station.BitBtnFindDevClick();
    if (!RunUntil([&] { return Connected() == options.count && !station.AnyBusy(); }, 10)) {
      failure = "the search found " + std::to_string(Connected()) + " programmers";
      return;
    }
    fe.part = "N32G452CBL7";
    station.DevButtonClick();
    image.resize(imageBytes);
    for (std::size_t i = 0; i < image.size(); ++i) {
      image[i] = static_cast<std::uint8_t>((i * 31 + i / 4096) % 251);
    }
    fe.openPath = (dir / "image.bin").string();
    std::ofstream(fe.openPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    if (station.LoadObjectFileCommand(false, ObjectFileKind::Binary).status != LoadStatus::Done) {
      failure = "the image did not load";
    }
  }
  ~SoakRig() {
    emulator_.Stop();
    fs::remove_all(dir);
  }

  bool RunUntil(const std::function<bool()>& done, double seconds) {
    return loop.RunFor(std::chrono::milliseconds(static_cast<int>(seconds * 1000)), done);
  }
  int Connected() const {
    int count = 0;
    for (int n = 1; n <= kChannelCount; ++n) count += station.channel(n).connected;
    return count;
  }
  sim::Emulator& emulator() { return emulator_; }

  fs::path dir;
  std::string failure;
  std::vector<std::uint8_t> image;
  // A clock one second later at every reading, so that each periodic log gets a name of its own.
  LocalTime now{2026, 12, 10, 0, 0, 0};
  SoakFrontend fe;
  Station station{fe, [this] {
                    if (++now.second == 60) now.second = 0, ++now.minute;
                    if (now.minute == 60) now.minute = 0, ++now.hour;
                    return now;
                  }};
  EventLoop loop;

 private:
  sim::Emulator emulator_;
};

sim::Options Programmers() {
  sim::Options options;
  options.count = 4;
  options.flashMs = 0;  // the stand-alone cycle waits the flash time even at memory speed
  return options;
}

void BM_AutoSoak(benchmark::State& state) {
  const int cycles = static_cast<int>(state.range(0));
  constexpr int kWarmUp = 100;
  for (auto _ : state) {
    SoakRig rig(Programmers(), 128 * 1024);
    if (!rig.failure.empty()) return state.SkipWithError(rig.failure.c_str());
    rig.station.form().CheckBoxOpt.checked = true;  // each cycle ends with the option bytes
    long warm = 0, end = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      rig.station.AutoSpdBtnClick();
      if (!rig.RunUntil([&] { return !rig.station.AnyBusy(); }, 30)) {
        return state.SkipWithError(Format("cycle %d did not end", cycle).c_str());
      }
      for (int n = 1; n <= kChannelCount; ++n) {
        const auto& outcome = rig.station.channel(n).lastOutcome;
        if (!outcome || outcome->result != OperationResult::Ok ||
            outcome->command != kPendingWriteOptionBytes) {
          return state.SkipWithError(
              Format("cycle %d, channel %d: %s", cycle, n, outcome ? outcome->message.c_str() : "")
                  .c_str());
        }
      }
      if (cycle % kWarmUp == 0) {
        // Each channel's record of the last 100 cycles, then the operator clears the panel.
        for (int n = 1; n <= kChannelCount; ++n) {
          const std::string done = Format("芯片%d ：写Option Byte操作成功!", n);
          int records = 0;
          for (const std::string& line : rig.station.info().Lines()) {
            records += line.ends_with(done) ? 1 : 0;
          }
          if (records != kWarmUp) {
            return state.SkipWithError(
                Format("channel %d has %d records for %d cycles", n, records, kWarmUp).c_str());
          }
        }
        rig.station.ClearInformation1Click();
        (cycle == kWarmUp ? warm : end) = ResidentKiB();
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (rig.station.totalCounter() != 4 * cycles) {
      return state.SkipWithError(
          Format("total counter %d after %d cycles", rig.station.totalCounter(), cycles).c_str());
    }
    for (int n = 1; n <= kChannelCount; ++n) {
      if (rig.emulator().Snapshot(n).target.flash != rig.image) {
        return state.SkipWithError(Format("programmer %d holds another image", n).c_str());
      }
    }
    // A request buffer lost per cycle would add megabytes over the run; the allocator's settling
    // after warm-up is a few hundred KiB at most.
    if (kJudgeMemory && end - warm > 1024) {
      return state.SkipWithError(
          Format("resident memory grew by %ld KiB after warm-up", end - warm).c_str());
    }
    state.counters["cycles"] = cycles;
    state.counters["cycles_per_s"] = cycles / seconds;
    state.counters["rss_warm_MiB"] = warm / 1024.0;
    state.counters["rss_end_MiB"] = end / 1024.0;
    state.counters["rss_growth_KiB"] = static_cast<double>(end - warm);
  }
}
BENCHMARK(BM_AutoSoak)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_StandAloneSoak(benchmark::State& state) {
  const auto results = static_cast<std::uint32_t>(state.range(0));
  constexpr std::uint32_t kNgEvery = 25;
  for (auto _ : state) {
    sim::Options options = Programmers();
    options.standaloneParts = results / 4;
    options.ngEvery = kNgEvery;
    SoakRig rig(options, 8 * 1024);
    if (!rig.failure.empty()) return state.SkipWithError(rig.failure.c_str());
    const auto start = std::chrono::steady_clock::now();
    rig.station.SpdBtnDownLoadClick();  // the download ends with the restart: the parts begin
    long warm = 0;
    const auto counted = [&] { return rig.station.totalOk() + rig.station.totalNg(); };
    if (!rig.RunUntil([&] { return counted() >= results / 5; }, 600)) {
      return state.SkipWithError("the stand-alone results stopped coming");
    }
    warm = ResidentKiB();
    if (!rig.RunUntil([&] { return counted() >= results; }, 600)) {
      return state.SkipWithError(Format("only %u results came", counted()).c_str());
    }
    rig.RunUntil({}, 0.2);  // nothing more may come
    const long end = ResidentKiB();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::uint32_t ng = results / kNgEvery;
    if (counted() != results || rig.station.totalNg() != ng ||
        rig.station.totalCounter() != static_cast<std::int32_t>(results - ng)) {
      return state.SkipWithError(Format("counted %u OK, %u NG, counter %d", rig.station.totalOk(),
                                        rig.station.totalNg(), rig.station.totalCounter())
                                     .c_str());
    }
    for (int n = 1; n <= kChannelCount; ++n) {
      const auto& ch = rig.station.channel(n);
      if (ch.okCount + ch.ngCount != results / 4 || ch.ngCount != results / 4 / kNgEvery) {
        return state.SkipWithError(
            Format("channel %d counted %u OK and %u NG", n, ch.okCount, ch.ngCount).c_str());
      }
    }
    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(rig.dir)) {
      if (entry.path().filename().string().starts_with("NATx_")) logs.push_back(entry.path());
    }
    std::sort(logs.begin(), logs.end());
    if (logs.size() != results / 500) {
      return state.SkipWithError(Format("%zu periodic logs", logs.size()).c_str());
    }
    std::ifstream in(logs.back());
    const std::string last((std::istreambuf_iterator<char>(in)), {});
    const std::string total = Format("Total OK Number is : %u, NG is %u", results - ng, ng);
    if (last.find(total) == std::string::npos) {
      return state.SkipWithError(("the last log lacks \"" + total + "\"").c_str());
    }
    std::size_t panelBytes = 0;
    for (const std::string& line : rig.station.info().Lines()) panelBytes += line.size();
    state.counters["results"] = results;
    state.counters["results_per_s"] = results / seconds;
    state.counters["logs"] = static_cast<double>(logs.size());
    state.counters["rss_warm_MiB"] = warm / 1024.0;
    state.counters["rss_end_MiB"] = end / 1024.0;
    state.counters["rss_growth_KiB"] = static_cast<double>(end - warm);
    state.counters["panel_KiB"] = panelBytes / 1024.0;
  }
}
BENCHMARK(BM_StandAloneSoak)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace korvan

BENCHMARK_MAIN();
