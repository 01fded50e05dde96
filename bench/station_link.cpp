// The station's link end to end: the station's own command handlers and its EventLoop against
// emulated programmers on pseudo-terminals, in one process.
//   BM_ProgramRealtime/C    Program of a 128 KiB part (N32G452CBL7) on C channels at once, the
//                           emulator keeping the wire time of 1,000,000 baud 8N2 and 20 ms of
//                           flash time per 4 KiB. Physical time: 32 x (46.07 + 20) ms = 2.114 s.
//                           Counter "vs_physical" is the measured time over the physical time.
//   BM_AutoMemory512K/C     Auto (blank check, program, verify, option bytes) of a blank 512 KiB
//                           part (N32G457VEL7) on C channels, at memory speed.
// Every iteration starts a fresh emulator (blank parts) and station, outside the timing.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/app/event_loop.h"
#include "core/app/station.h"
#include "core/chips/catalogue.h"
#include "core/chips/chip_select_form.h"
#include "core/chips/chip_setup.h"
#include "lib/emulator.h"

namespace {

using namespace korvan;
namespace fs = std::filesystem;

constexpr double kPhysicalProgram128K = 32 * (0.04607 + 0.020);

// Answers as an operator who confirms everything: the chip dialog picks the part, the open
// dialog the prepared file.
class BenchFrontend : public Frontend {
 public:
  std::string part;
  std::string file;
  Answer Ask(MessageKind, const std::string&, Buttons buttons) override {
    return buttons == Buttons::YesAbort ? Answer::Abort : Answer::Ok;
  }
  std::optional<FileChoice> ChooseOpenFile(const FileDialog&) override {
    return FileChoice{file, 1};
  }
  std::optional<FileChoice> ChooseSaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> AskLoadOffset(const std::string& shown) override { return shown; }
  std::optional<ReadAddressEntry> AskReadAddress(const std::string& a, int n) override {
    return ReadAddressEntry{a, n};
  }
  void ShowChipDialog(TNChipSelectForm& dialog) override {
    const CatalogueEntry selection = DialogSelectionFor(part, std::nullopt);
    dialog.ListBoxSeries.itemIndex = selection.series;
    dialog.ListBoxSeriesClick();
    dialog.ListBoxChips.itemIndex = selection.position;
    dialog.ListBoxChipsClick();
    dialog.EditSelChip.text = part;
    dialog.BitBtnOKClick();
  }
};

// An emulator, a station bound to its programmers, the part chosen and a full image loaded.
class Rig {
 public:
  Rig(int channels, const std::string& part, std::size_t flashKb, bool realtime)
      : dir_(fs::temp_directory_path() / ("korvan_bench_" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
    sim::Options options;
    options.count = channels;
    options.realtime = realtime;
    options.flashMs = 20;
    emulator_ = std::make_unique<sim::Emulator>(options);
    std::string error;
    if (!emulator_->Start(&error)) throw std::runtime_error(error);

    std::string image(flashKb * 1024, '\0');
    // The physical time counts frames without escapes: the image holds no 0xC0 or 0xDB, so the
    // same bytes cross the line as in that count (a real image adds ~0.35 ms per 4 KiB block).
    for (std::size_t i = 0; i < image.size(); ++i) {
      auto b = static_cast<std::uint8_t>(i * 13 + i / 4099);
      if (b == 0xC0 || b == 0xDB) b = 0x55;
      image[i] = static_cast<char>(b);
    }
    frontend_.file = (dir_ / "image.bin").string();
    std::ofstream(frontend_.file, std::ios::binary) << image;
    frontend_.part = part;

    station_ = std::make_unique<Station>(frontend_);
    loop_.AddQueue(station_->serialEvents());
    loop_.SetTick([this] { station_->Timer1Timer(); });
    std::string ports;
    for (const auto& p : emulator_->Paths()) ports += (ports.empty() ? "" : ":") + p;
    station_->SetPortSources({dir_ / "no-sysfs", "/dev", ports});
    station_->FormShow({dir_, "", ""});  // lists the ports and searches
    station_->DevButtonClick();
    station_->LoadObjectFileCommand(false, ObjectFileKind::Binary);
    loop_.RunFor(std::chrono::seconds(5), [&] { return Connected() == channels; });
    if (Connected() != channels) throw std::runtime_error("not every programmer answered");
  }
  ~Rig() {
    station_.reset();
    emulator_.reset();
    fs::remove_all(dir_);
  }

  int Connected() const {
    int n = 0;
    for (int c = 1; c <= kChannelCount; ++c) n += station_->channel(c).connected;
    return n;
  }
  // Runs a command and waits until every channel is idle; false when a channel failed.
  bool Run(void (Station::*command)()) {
    failures_ = 0;
    (station_.get()->*command)();
    loop_.RunFor(std::chrono::minutes(5), [&] { return !station_->AnyBusy(); });
    for (int c = 1; c <= kChannelCount; ++c) {
      const auto& outcome = station_->channel(c).lastOutcome;
      if (station_->channel(c).connected && (!outcome || outcome->result != OperationResult::Ok)) {
        ++failures_;
      }
    }
    return failures_ == 0;
  }

 private:
  fs::path dir_;
  BenchFrontend frontend_;
  std::unique_ptr<sim::Emulator> emulator_;
  std::unique_ptr<Station> station_;
  EventLoop loop_;
  int failures_ = 0;
};

void RunCommand(benchmark::State& state, const std::string& part, std::size_t flashKb,
                bool realtime, void (Station::*command)(), double physical) {
  const int channels = static_cast<int>(state.range(0));
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<Rig>(channels, part, flashKb, realtime);
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = rig->Run(command);
    const auto t1 = std::chrono::steady_clock::now();
    state.PauseTiming();
    if (!ok) state.SkipWithError("a channel failed");
    total += std::chrono::duration<double>(t1 - t0).count();
    rig.reset();
    state.ResumeTiming();
  }
  const double mean = total / static_cast<double>(state.iterations());
  state.counters["seconds"] = mean;
  if (physical > 0) state.counters["vs_physical"] = mean / physical;
}

void BM_ProgramRealtime(benchmark::State& state) {
  RunCommand(state, "N32G452CBL7", 128, true, &Station::SpdBtnProgClick, kPhysicalProgram128K);
}
BENCHMARK(BM_ProgramRealtime)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_AutoMemory512K(benchmark::State& state) {
  RunCommand(state, "N32G457VEL7", 512, false, &Station::AutoSpdBtnClick, 0);
}
BENCHMARK(BM_AutoMemory512K)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
