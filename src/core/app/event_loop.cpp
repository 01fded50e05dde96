#include "core/app/event_loop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace korvan {

void TickSchedule::Advance(Clock::time_point now) {
  next_ += period_;
  // Less than a period behind: the tick is only late and runs at once. Further behind: jump to
  // the last grid point already reached, so one tick runs at once and the rest are dropped.
  if (now - next_ >= period_) next_ += ((now - next_) / period_) * period_;
}

bool EventLoop::RunUntilOn(LoopTime& time, const std::function<bool()>& done,
                           Clock::time_point deadline) {
  auto isDone = [&done] { return done && done(); };
  if (isDone()) return true;
  auto ticking = [this, &time] {
    const bool wanted = tick_ && (!tickWanted_ || tickWanted_());
    if (wanted && !started_) schedule_.Start(time.Now());
    started_ = wanted;
    return wanted;
  };
  for (;;) {
    const bool tickNow = ticking();
    auto wake = deadline;
    if (tickNow) wake = std::min(wake, schedule_.Next());
    time.Wait(wake);
    for (EventQueue* q : queues_) q->Drain();
    if (isDone()) return true;
    Clock::time_point now = time.Now();
    if (tickNow && ticking() && schedule_.Due(now)) {
      tick_();
      ++ticks_;
      schedule_.Advance(time.Now());
      if (isDone()) return true;
      now = time.Now();
    }
    if (now >= deadline) return false;
  }
}

bool EventLoop::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  if (time_) return RunUntilOn(*time_, done, deadline);
  auto isDone = [&done] { return done && done(); };
  if (isDone()) return true;
  // The tick runs on its grid while it has work; the grid (re)starts when work comes.
  auto ticking = [this] {
    const bool wanted = tick_ && (!tickWanted_ || tickWanted_());
    if (wanted && !started_) schedule_.Start(Clock::now());
    started_ = wanted;
    return wanted;
  };
  std::vector<pollfd> fds;
  for (const EventQueue* q : queues_) fds.push_back({q->NotifyFd(), POLLIN, 0});

  for (;;) {
    const bool tickNow = ticking();
    auto now = Clock::now();
    auto wake = deadline;
    if (tickNow) wake = std::min(wake, schedule_.Next());
    const auto wait = std::max(wake - now, Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, waitMask_ ? &*waitMask_ : nullptr);
    if (ready < 0 && errno == EINTR && isDone()) return true;
    if (ready > 0) {
      // Replies are handled as they arrive, before a tick that fell due meanwhile.
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents & POLLIN) queues_[i]->Drain();
      }
      if (isDone()) return true;
    }
    now = Clock::now();
    if (tickNow && ticking() && schedule_.Due(now)) {
      tick_();
      ++ticks_;
      schedule_.Advance(Clock::now());
      if (isDone()) return true;
      now = Clock::now();
    }
    if (now >= deadline) return false;
  }
}

}  // namespace korvan
