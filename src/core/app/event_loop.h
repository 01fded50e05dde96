// The small loop of the core: what the command-line station and the tests run in place of the
// window's loop. It drains the serial event queues the moment events arrive and calls the
// station's 10 ms tick on time, until the caller's condition holds or a deadline passes.
//
// The window does not use it: there a socket notifier watches each queue's NotifyFd and a
// QTimer calls the tick.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/util/event_queue.h"

namespace korvan {

// When the next tick is due. Ticks sit on a fixed grid (start + k * period) so that late
// wake-ups never add up to drift; after a stall longer than a period (a modal question, a slow
// file) the missed ticks are dropped rather than fired in a burst, as a window timer does.
class TickSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TickSchedule(Clock::duration period) : period_(period) {}

  // Starts the grid: the first tick is due one period after `now`.
  void Start(Clock::time_point now) { next_ = now + period_; }
  Clock::time_point Next() const { return next_; }
  bool Due(Clock::time_point now) const { return now >= next_; }
  // Call after a tick ran, with the time it finished: moves to the next grid point. When that
  // is more than a period in the past, moves to the latest grid point not after `now` instead,
  // so one tick is due at once and the others missed are dropped.
  void Advance(Clock::time_point now);
  Clock::duration Period() const { return period_; }

 private:
  Clock::duration period_;
  Clock::time_point next_{};
};

// The time a loop runs on, when not the wall clock's: tests run it on the virtual clock of
// emulated programmers, so minutes of a session take milliseconds.
class LoopTime {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~LoopTime() = default;
  virtual Clock::time_point Now() = 0;
  // Lets time pass up to `until` at the latest, or less when something happened earlier (the
  // loop drains its queues after every wait).
  virtual void Wait(Clock::time_point until) = 0;
};

class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kTickPeriod{10};

  explicit EventLoop(Clock::duration tickPeriod = kTickPeriod) : schedule_(tickPeriod) {}

  // Adds a queue to drain. The queue must outlive every later Run call.
  void AddQueue(EventQueue& queue) { queues_.push_back(&queue); }

  // The station's tick (Timer1Timer); empty for none. Called on the loop's thread.
  void SetTick(std::function<void()> tick) { tick_ = std::move(tick); }

  // Whether the tick has anything to do now (a time-out to count, a gauge to move); empty: it
  // always has. While it has nothing the loop does not wake for it and sleeps until an event or
  // the deadline; once it has again, the grid starts afresh one full period later, so a time-out
  // counted in ticks never ends sooner than it would have.
  void SetTickWanted(std::function<bool()> wanted) { tickWanted_ = std::move(wanted); }

  // Drains the queues and ticks until `done` returns true or `deadline` passes; returns true
  // when `done` held. `done` is checked before the first wait and after every drain and tick;
  // an empty `done` runs to the deadline. The tick grid starts with the first call and carries
  // on across calls. Runs handlers and the tick on the calling thread (the owner's thread).
  bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline);
  bool RunFor(Clock::duration duration, const std::function<bool()>& done = {}) {
    return RunUntil(done, Now() + duration);
  }
  // Runs on `time` from now on (nullptr: the wall clock). It must outlive every later Run call.
  void SetTime(LoopTime* time) { time_ = time; }
  Clock::time_point Now() const { return time_ ? time_->Now() : Clock::now(); }

  // The signal mask while the loop waits (ppoll), for a caller that keeps its stop signals
  // blocked everywhere else: a signal is then taken only between drains, never in the middle of
  // one, and `done` is checked before anything else runs. nullopt: the mask is left alone.
  void SetWaitSignalMask(std::optional<sigset_t> mask) { waitMask_ = mask; }

  // Ticks called so far.
  std::uint64_t Ticks() const { return ticks_; }

 private:
  // The loop on `time_`: no file descriptor is waited on, every queue is drained after each wait.
  bool RunUntilOn(LoopTime& time, const std::function<bool()>& done, Clock::time_point deadline);

  std::vector<EventQueue*> queues_;
  LoopTime* time_ = nullptr;
  std::function<void()> tick_;
  std::function<bool()> tickWanted_;
  TickSchedule schedule_;
  bool started_ = false;
  std::uint64_t ticks_ = 0;
  std::optional<sigset_t> waitMask_;
};

}  // namespace korvan
