// Emulated programmers in the station's own process, under a virtual clock.
//
// Each channel's line is a `korvan::Port` wired straight to a `Programmer`: what the station
// sends reaches the programmer at once, and what the programmer answers is handed to the
// station's handlers when the owner calls `Settle`. There is no pseudo-terminal, no thread and
// no waiting: time moves only when the owner says so, 10 ms per station tick or straight to the
// programmers' next due time, so a run of minutes on the wire takes milliseconds.
//
//   korvan::sim::VirtualBench bench(options, {"ttyKV1", "ttyKV2"});
//   korvan::Station station(frontend, korvan::SystemLocalTime, bench.Provider());
//   ...
//   bench.Settle();                      // replies due now reach the station
//   bench.AdvanceTo(bench.Now() + 10ms); // and then the station's tick
//
// The ports keep the `Port` contract: handlers run only from `Settle`, never from a call of
// the station's. A line whose programmer hangs up is gone: its port reports the hang-up, the
// port list no longer names it and opening it fails, as for an adapter pulled out. A station
// lists a line when its port sources name it (the extra ports, as KORVAN_PORTS names the
// emulator's pseudo-terminals).
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/app/event_loop.h"
#include "core/serial/port.h"
#include "core/serial/port_list.h"
#include "lib/options.h"
#include "lib/programmer.h"

namespace korvan::sim {

class VirtualBench {
 public:
  // `names` are the lines' port names, channel 1 first (ttyNAT01, ... when not given).
  explicit VirtualBench(Options options, std::vector<std::string> names = {});
  ~VirtualBench();
  VirtualBench(const VirtualBench&) = delete;
  VirtualBench& operator=(const VirtualBench&) = delete;

  // The lines' port names, channel 1 first.
  const std::vector<std::string>& Paths() const { return names_; }
  // What a station makes its ports and its port list with. The bench must outlive the ports.
  PortProvider Provider();

  TimePoint Now() const { return now_; }
  // Moves the clock on to `t` (never back).
  void AdvanceTo(TimePoint t);
  // Hands over everything due by now, both ways, until nothing moves: bytes to the
  // programmers, their replies to the ports' handlers, hang-ups. True when anything moved.
  bool Settle();
  // When a programmer has something due next, if anything.
  std::optional<TimePoint> NextDue() const;

  ChannelSnapshot Snapshot(int channel) const;
  bool HungUp(int channel) const;

 private:
  class LinePort;
  struct Line {
    std::string name;
    std::unique_ptr<Programmer> programmer;
    LinePort* owner = nullptr;  // the open port on this line
    bool hungUp = false;
  };
  friend class LinePort;

  Line* Find(const std::string& name);
  bool SettleLine(Line& line);

  Options options_;
  std::vector<std::string> names_;
  std::vector<Line> lines_;
  TimePoint now_{};
};

// The bench's clock as an event loop's time (EventLoop::SetTime): a wait hands over what is
// due now; when nothing is, the clock moves on to what the programmers have due next, or to the
// loop's next tick or deadline, whichever comes first.
class BenchTime : public LoopTime {
 public:
  explicit BenchTime(VirtualBench& bench) : bench_(bench) {}
  Clock::time_point Now() override { return bench_.Now(); }
  void Wait(Clock::time_point until) override {
    if (bench_.Settle()) return;
    const std::optional<TimePoint> next = bench_.NextDue();
    const TimePoint to = next ? std::min(*next, until) : until;
    if (to > bench_.Now()) bench_.AdvanceTo(to);
    bench_.Settle();
  }

 private:
  VirtualBench& bench_;
};

}  // namespace korvan::sim
