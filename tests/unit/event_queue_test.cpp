#include <gtest/gtest.h>
#include <poll.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/util/event_queue.h"

namespace korvan {
namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// Records what it was handed; optionally runs a hook inside the handler.
struct Recorder : EventReceiver {
  std::vector<std::uint32_t> values;
  std::vector<std::string> blocks;
  std::function<void()> hook;
  void HandleEvent(Event& event) override {
    values.push_back(event.value);
    if (event.block) blocks.emplace_back(reinterpret_cast<char*>(event.block.get()), event.length);
    if (hook) {
      auto h = std::move(hook);
      h();
    }
  }
};

Event Make(EventReceiver* r, std::uint32_t value) {
  Event e;
  e.receiver = r;
  e.kind = EventKind::ReceiveError;
  e.value = value;
  return e;
}

TEST(EventQueue, NotifyFdIsReadableExactlyWhileEventsWait) {
  EventQueue queue;
  Recorder r;
  EXPECT_FALSE(Readable(queue.NotifyFd()));
  queue.Post(Make(&r, 1));
  queue.Post(Make(&r, 2));
  EXPECT_TRUE(Readable(queue.NotifyFd()));
  EXPECT_TRUE(queue.DispatchOne());
  EXPECT_TRUE(Readable(queue.NotifyFd()));
  EXPECT_TRUE(queue.DispatchOne());
  EXPECT_FALSE(Readable(queue.NotifyFd()));
  EXPECT_FALSE(queue.DispatchOne());
  queue.Post(Make(&r, 3));
  EXPECT_TRUE(Readable(queue.NotifyFd()));
  EXPECT_EQ(queue.Drain(), 1u);
  EXPECT_FALSE(Readable(queue.NotifyFd()));
  EXPECT_EQ(r.values, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(EventQueue, BlocksTravelWithTheirEventsAndEachProducerKeepsItsOrder) {
  EventQueue queue;
  Recorder a, b;
  constexpr std::uint32_t kCount = 20000;
  auto produce = [&queue](Recorder* r) {
    for (std::uint32_t i = 0; i < kCount; ++i) {
      Event e = Make(r, i);
      e.kind = EventKind::DataReceived;
      e.length = sizeof i;
      e.block = std::make_unique<std::uint8_t[]>(sizeof i + 1);
      std::memcpy(e.block.get(), &i, sizeof i);
      queue.Post(std::move(e));
    }
  };
  std::thread ta(produce, &a), tb(produce, &b);
  // Drain while the producers run, as the owner's loop does.
  while (a.values.size() + b.values.size() < 2 * kCount) {
    pollfd p{queue.NotifyFd(), POLLIN, 0};
    ::poll(&p, 1, 100);
    queue.Drain();
  }
  ta.join();
  tb.join();
  for (Recorder* r : {&a, &b}) {
    ASSERT_EQ(r->values.size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i) {
      ASSERT_EQ(r->values[i], i);
      std::uint32_t fromBlock;
      std::memcpy(&fromBlock, r->blocks[i].data(), sizeof fromBlock);
      ASSERT_EQ(fromBlock, i);
    }
  }
  EXPECT_FALSE(Readable(queue.NotifyFd()));
}

TEST(EventQueue, NestedDispatchFromAHandlerKeepsTheOrder) {
  // A modal question inside a handler runs a nested loop that drains the same queue.
  EventQueue queue;
  Recorder r;
  r.hook = [&] { queue.Drain(); };
  for (std::uint32_t i = 1; i <= 4; ++i) queue.Post(Make(&r, i));
  queue.Drain();
  EXPECT_EQ(r.values, (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

TEST(EventQueue, DiscardForgetsOnlyThatReceiversEvents) {
  EventQueue queue;
  Recorder gone, kept;
  queue.Post(Make(&gone, 1));
  queue.Post(Make(&kept, 2));
  queue.Post(Make(&gone, 3));
  EXPECT_EQ(queue.Discard(&gone), 2u);
  EXPECT_TRUE(Readable(queue.NotifyFd()));
  queue.Drain();
  EXPECT_TRUE(gone.values.empty());
  EXPECT_EQ(kept.values, (std::vector<std::uint32_t>{2}));

  queue.Post(Make(&gone, 4));
  queue.Discard(&gone);
  EXPECT_FALSE(Readable(queue.NotifyFd()));
}

TEST(EventQueue, DrainTakesOnlyWhatWasWaiting) {
  // A handler that posts again must not keep Drain from returning.
  EventQueue queue;
  Recorder r;
  r.hook = [&] { queue.Post(Make(&r, 9)); };
  queue.Post(Make(&r, 1));
  EXPECT_EQ(queue.Drain(), 1u);
  EXPECT_EQ(queue.Size(), 1u);
}

}  // namespace
}  // namespace korvan
