#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "core/app/event_loop.h"

namespace korvan {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(TickSchedule, StaysOnTheGridAndDropsTicksMissedInAStall) {
  const Clock::time_point t0{};
  struct Row {
    const char* what;
    std::chrono::milliseconds finishedAt;  // when the tick due at 10 ms finished
    std::chrono::milliseconds next;
  } rows[] = {
      {"on time", 10ms, 20ms},
      {"late wake-up does not shift the grid", 13ms, 20ms},
      {"next tick already due", 20ms, 20ms},
      {"less than a period behind: late, not lost", 29ms, 20ms},
      {"stall: one tick at once, the rest dropped", 65ms, 60ms},
  };
  for (const Row& row : rows) {
    TickSchedule schedule(10ms);
    schedule.Start(t0);
    EXPECT_FALSE(schedule.Due(t0 + 9ms));
    ASSERT_TRUE(schedule.Due(t0 + 10ms));
    schedule.Advance(t0 + row.finishedAt);
    EXPECT_EQ(schedule.Next() - t0, row.next) << row.what;
  }
}

TEST(EventLoop, HandlesEventsAsTheyArriveAndStopsWhenDone) {
  EventQueue queue;
  struct Counter : EventReceiver {
    int seen = 0;
    void HandleEvent(Event&) override { ++seen; }
  } counter;
  EventLoop loop;
  loop.AddQueue(queue);
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(5ms);
      Event e;
      e.receiver = &counter;
      queue.Post(std::move(e));
    }
  });
  EXPECT_TRUE(loop.RunFor(10s, [&] { return counter.seen == 3; }));
  poster.join();
  EXPECT_EQ(counter.seen, 3);
}

TEST(EventLoop, ReturnsFalseAtTheDeadline) {
  EventLoop loop;
  loop.SetTick([] {});
  const auto start = Clock::now();
  EXPECT_FALSE(loop.RunFor(50ms, [] { return false; }));
  EXPECT_GE(Clock::now() - start, 50ms);
  EXPECT_TRUE(loop.RunFor(0ms, [] { return true; }));
}

TEST(EventLoop, TicksNeverComeEarlyNorInABurst) {
  EventLoop loop;
  std::vector<Clock::time_point> ticks;
  loop.SetTick([&] { ticks.push_back(Clock::now()); });
  const auto start = Clock::now();
  // The condition is checked after every tick.
  EXPECT_TRUE(loop.RunFor(10s, [&] { return ticks.size() == 5; }));
  EXPECT_EQ(loop.Ticks(), 5u);
  loop.RunFor(100ms);
  const auto end = Clock::now();
  ASSERT_FALSE(ticks.empty());
  for (std::size_t k = 0; k < ticks.size(); ++k) {
    EXPECT_GE(ticks[k] - start, (k + 1) * 10ms) << "tick " << k;
  }
  EXPECT_LE(ticks.size(), static_cast<std::size_t>((end - start) / 10ms));
}

TEST(EventLoop, SkipsTheTickWhileItHasNothingToCountAndRestartsItsGridWhenWorkComes) {
  EventLoop loop;
  bool wanted = false;
  std::vector<Clock::time_point> ticks;
  loop.SetTick([&] { ticks.push_back(Clock::now()); });
  loop.SetTickWanted([&] { return wanted; });
  loop.RunFor(40ms);
  EXPECT_EQ(loop.Ticks(), 0u);

  // Work comes (a command started between two waits): the first tick a full period later.
  wanted = true;
  const auto work = Clock::now();
  EXPECT_TRUE(loop.RunFor(10s, [&] { return ticks.size() == 2; }));
  EXPECT_GE(ticks[0] - work, 10ms);
  EXPECT_GE(ticks[1] - ticks[0], 5ms);

  // Idle again, then work again: again never sooner than a period.
  wanted = false;
  loop.RunFor(30ms);
  EXPECT_EQ(loop.Ticks(), 2u);
  wanted = true;
  const auto again = Clock::now();
  EXPECT_TRUE(loop.RunFor(10s, [&] { return ticks.size() == 3; }));
  EXPECT_GE(ticks[2] - again, 10ms);
}

}  // namespace
}  // namespace korvan
