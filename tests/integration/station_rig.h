// A station on emulated programmers, and the loop that drives both. The tests talk to the
// station only through its handlers, as the window and the command line do.
//
// Two wires: Wire::Virtual (the default) puts the programmer models in this process on a
// virtual clock (sim::VirtualBench), so a run of many seconds on the wire takes milliseconds
// and the station ticks exactly every 10 ms of that clock; Wire::Pseudoterminal runs
// korvan::sim::Emulator on pseudo-terminals with real serial ports and real time, end to end.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/app/event_loop.h"
#include "core/app/station.h"
#include "core/chips/catalogue.h"
#include "core/chips/chip_select_form.h"
#include "lib/emulator.h"
#include "lib/virtual_bench.h"
#include "support/fake_frontend.h"

namespace korvan::testing {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvan-link-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Records what the station tells its listener.
struct RecordingListener : StationListener {
  std::vector<std::pair<int, OperationOutcome>> outcomes;
  std::vector<std::pair<int, std::uint8_t>> standAlone;
  int channelsChanged = 0;
  void OperationEnded(int channel, const OperationOutcome& outcome) override {
    outcomes.emplace_back(channel, outcome);
  }
  void StandAloneResult(int channel, std::uint8_t code) override {
    standAlone.emplace_back(channel, code);
  }
  void ChannelsChanged() override { ++channelsChanged; }
};

enum class Wire { Virtual, Pseudoterminal };

// The programmers of either wire, as the tests look at them.
class RigProgrammers {
 public:
  RigProgrammers(const sim::Options& options, Wire wire, const std::filesystem::path& dir) {
    if (wire == Wire::Pseudoterminal) {
      pty_ = std::make_unique<sim::Emulator>(options);
      std::string error;
      started_ = pty_->Start(&error);
      EXPECT_TRUE(started_) << error;
      return;
    }
    std::vector<std::string> names;
    for (int n = 1; n <= options.count; ++n) {
      names.push_back((dir / ("ttyKV" + std::to_string(n))).string());
    }
    bench_ = std::make_unique<sim::VirtualBench>(options, names);
    started_ = true;
  }

  sim::ChannelSnapshot Snapshot(int channel) const {
    return bench_ ? bench_->Snapshot(channel) : pty_->Snapshot(channel);
  }
  sim::Emulator* pty() { return pty_.get(); }
  sim::VirtualBench* bench() { return bench_.get(); }

 private:
  std::unique_ptr<sim::Emulator> pty_;
  std::unique_ptr<sim::VirtualBench> bench_;
  bool started_ = false;
};

class StationRig {
 public:
  // Starts the programmers; `beforeShow` may put files (a firmware image) into the station's
  // folder before its first showing.
  explicit StationRig(sim::Options options,
                      const std::function<void(const std::filesystem::path&)>& beforeShow = {},
                      bool searchAtShow = false, Wire wire = Wire::Virtual)
      : programmers_(options, wire, dir_.path()),
        station(fe, SystemLocalTime,
                programmers_.bench() ? programmers_.bench()->Provider() : SystemPortProvider()) {
    if (beforeShow) beforeShow(dir_.path());
    station.SetListener(&listener);
    // Unless asked to, the first showing searches no port: each test runs its own search, so
    // that no late identity reply of a first search meets a test's first command.
    std::string ports;
    if (auto* bench = programmers_.bench()) {
      ports_ = bench->Paths();
    } else {
      // The station binds the ports in the order of its sorted port list, where "/dev/pts/10"
      // comes before "/dev/pts/9". Links named in channel order keep programmer n on channel n
      // whatever numbers the pseudo-terminals got.
      const auto& paths = programmers_.pty()->Paths();
      for (std::size_t i = 0; i < paths.size(); ++i) {
        const auto link = dir_.path() / ("ttyKV" + std::to_string(i + 1));
        std::filesystem::create_symlink(paths[i], link);
        ports_.push_back(link.string());
      }
    }
    for (const std::string& port : ports_) ports += (ports.empty() ? "" : ":") + port;
    const PortSources emulated{dir_.path() / "no-sysfs", dir_.path() / "no-dev", ports};
    station.SetPortSources(searchAtShow ? emulated
                                        : PortSources{emulated.sysfsRoot, emulated.devDir, ""});
    station.FormShow({dir_.path(), "", ""});
    station.SetPortSources(emulated);
    loop.AddQueue(station.serialEvents());
    loop.SetTick([this] { station.Timer1Timer(); });
  }

  RigProgrammers& emulator() { return programmers_; }
  bool Virtual() { return programmers_.bench() != nullptr; }
  // The ports as the station sees them, programmer 1 first (they sort in this order).
  const std::vector<std::string>& Ports() const { return ports_; }
  const std::filesystem::path& dir() const { return dir_.path(); }

  // Runs until `done` holds; false when `seconds` pass first (virtual seconds on the virtual
  // wire, where the station ticks every 10 ms of the virtual clock).
  bool RunUntil(const std::function<bool()>& done, double seconds = 20) {
    const auto span = std::chrono::microseconds(static_cast<std::int64_t>(seconds * 1e6));
    sim::VirtualBench* bench = programmers_.bench();
    if (!bench) {
      return loop.RunFor(std::chrono::duration_cast<std::chrono::milliseconds>(span), done);
    }
    const sim::TimePoint deadline = bench->Now() + span;
    for (;;) {
      bench->Settle();
      if (done && done()) return true;
      if (bench->Now() >= deadline) return false;
      sim::TimePoint next = nextTick_;
      if (const auto due = bench->NextDue(); due && *due > bench->Now() && *due < next) next = *due;
      bench->AdvanceTo(std::min(next, deadline));
      if (bench->Now() >= nextTick_) {
        station.Timer1Timer();
        nextTick_ += std::chrono::milliseconds(10);
      }
    }
  }
  // Runs until no channel is busy.
  bool RunUntilIdle(double seconds = 20) {
    return RunUntil([this] { return !station.AnyBusy(); }, seconds);
  }
  // Virtual wire only: hands over what the programmers have due, moving the clock to their
  // due times but running no tick of the station.
  void Settle() {
    sim::VirtualBench* bench = programmers_.bench();
    ASSERT_NE(bench, nullptr);
    bench->Settle();
    // Up to a virtual second ahead: a stand-alone run would otherwise go on to its end.
    const sim::TimePoint limit = bench->Now() + std::chrono::seconds(1);
    for (auto due = bench->NextDue(); due && *due > bench->Now() && *due <= limit;
         due = bench->NextDue()) {
      bench->AdvanceTo(*due);
      bench->Settle();
    }
  }

  int Connected() const {
    int count = 0;
    for (int n = 1; n <= kChannelCount; ++n) count += station.channel(n).connected;
    return count;
  }

  // The device search, run until `expected` channels answered and none is busy (an upgrade).
  bool Search(int expected) {
    station.BitBtnFindDevClick();
    const bool found = RunUntil([&] { return Connected() == expected && !station.AnyBusy(); }, 10);
    if (!found) {
      for (const std::string& line : Lines()) ADD_FAILURE() << line;
    }
    return found;
  }

  // Chooses `part` in the chip dialog and confirms it.
  void ChooseChip(const std::string& part) {
    fe.chipDialogActions.push_back([part](TNChipSelectForm& d) {
      const auto entry = FindPart(part);
      ASSERT_TRUE(entry.has_value()) << part;
      d.ListBoxSeries.itemIndex = entry->series;
      d.ListBoxSeriesClick();
      d.ListBoxChips.itemIndex = entry->position;
      d.ListBoxChipsClick();
      d.BitBtnOKClick();
    });
    station.DevButtonClick();
  }

  // Loads `bytes` as a binary file at the flash start; returns them.
  std::vector<std::uint8_t> LoadImage(std::vector<std::uint8_t> bytes) {
    const auto file = dir_.path() / "image.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    fe.openChoices.push_back(FileChoice{file.string(), 2});
    station.LoadObjectFileCommand(false, ObjectFileKind::Binary);
    return bytes;
  }

  // `size` bytes of a pattern that differs from block to block and from erased flash.
  static std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<std::uint8_t>((i * 31 + seed * 17 + i / 4096) % 251);
    }
    return bytes;
  }

  // The information panel's lines without their time prefix.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const std::string& line : station.info().Lines()) {
      lines.push_back(line.size() > 11 && line.starts_with("> ") && line[4] == ':' ? line.substr(11)
                                                                                   : line);
    }
    return lines;
  }
  bool HasLine(const std::string& text) const {
    for (const std::string& line : Lines()) {
      if (line == text) return true;
    }
    return false;
  }

 private:
  TempFolder dir_;
  RigProgrammers programmers_;
  std::vector<std::string> ports_;
  sim::TimePoint nextTick_ = sim::TimePoint{} + std::chrono::milliseconds(10);

 public:
  FakeFrontend fe;
  RecordingListener listener;
  Station station;
  EventLoop loop;
};

}  // namespace korvan::testing
