#include "core/link/link_engine.h"

#include <algorithm>

namespace korvan {

LinkEngine::~LinkEngine() {
  // The ports go first, while the queue they post to is still there.
  for (Entry& e : links_) e.link->port().ClosePort();
  links_.clear();
}

int LinkEngine::AddChannels(LinkHost& host, int count, const PortFactory& makePort) {
  const int first = ChannelCount() + 1;
  for (int n = 1; n <= count; ++n) {
    links_.push_back({&host, std::make_unique<ChannelLink>(n, makePort(events_, n), host)});
  }
  if (std::find(hosts_.begin(), hosts_.end(), &host) == hosts_.end()) hosts_.push_back(&host);
  return first;
}

void LinkEngine::ReleaseHost(LinkHost& host) {
  for (Entry& e : links_) {
    if (e.host != &host) continue;
    e.link->port().ClosePort();
    e.host = nullptr;
  }
  hosts_.erase(std::remove(hosts_.begin(), hosts_.end(), &host), hosts_.end());
}

template <typename Test>
bool LinkEngine::AnyChannel(Test test) const {
  return std::any_of(links_.begin(), links_.end(),
                     [&](const Entry& e) { return e.host && test(e.link->snapshot()); });
}

bool LinkEngine::TickWanted() const {
  return AnyChannel([](const ChannelSnapshot& ch) {
    return ch.busy != 0 || ch.upgrading != 0 || ch.restartAnswerDue > 0;
  });
}

bool LinkEngine::AnyAtWork() const {
  return AnyChannel([](const ChannelSnapshot& ch) { return ch.busy != 0 || ch.upgrading != 0; });
}

bool LinkEngine::AnyUpgrading() const {
  return AnyChannel([](const ChannelSnapshot& ch) { return ch.upgrading != 0; });
}

bool LinkEngine::AnyRestartAnswerDue() const {
  return AnyChannel([](const ChannelSnapshot& ch) { return ch.restartAnswerDue > 0; });
}

void LinkEngine::Tick() {
  for (LinkHost* host : hosts_) TickHost(*host);
}

void LinkEngine::TickHost(LinkHost& host) {
  // While a question is open the links stall: no time passes for them.
  if (host.LinksStalled()) return;
  host.BeforeTick();
  if (host.LinksStalled()) return;
  bool gauges = false;
  for (Entry& e : links_) {
    if (e.host != &host) continue;
    const LinkTick tick = e.link->Tick();
    gauges = gauges || tick.gaugeMoved;
    if (tick.expired) host.ChannelTimedOut(e.link->number(), tick);
  }
  host.AfterTick(gauges);
}

}  // namespace korvan
