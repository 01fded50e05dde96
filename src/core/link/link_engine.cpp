#include "core/link/link_engine.h"

#include <algorithm>

namespace korvan {

LinkEngine::~LinkEngine() {
  // The ports go first, while the queue they post to is still there.
  for (Entry& e : links_) e.link->port().ClosePort();
  links_.clear();
}

int LinkEngine::AddChannels(LinkHost& host, int count, const PortFactory& makePort) {
  const std::size_t first = links_.size();
  for (int n = 1; n <= count; ++n) {
    links_.push_back({&host, std::make_unique<ChannelLink>(n, makePort(events_, n), host)});
  }
  hosts_.push_back({&host, first, links_.size() - first});
  return static_cast<int>(first) + 1;
}

void LinkEngine::ReleaseHost(LinkHost& host) {
  for (Entry& e : links_) {
    if (e.host != &host) continue;
    e.link->port().ClosePort();
    e.host = nullptr;
  }
  std::erase_if(hosts_, [&](const HostChannels& h) { return h.host == &host; });
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
  // By index, each entry taken by value: a host released during a tick is not ticked after.
  for (std::size_t i = 0; i < hosts_.size(); ++i) TickChannels(hosts_[i]);
}

void LinkEngine::TickHost(LinkHost& host) {
  for (const HostChannels& h : hosts_) {
    if (h.host == &host) {
      TickChannels(h);
      return;
    }
  }
}

void LinkEngine::TickChannels(HostChannels channels) {
  LinkHost& host = *channels.host;
  // While a question is open the links stall: no time passes for them.
  if (host.LinksStalled()) return;
  host.BeforeTick();
  if (host.LinksStalled()) return;
  bool gauges = false;
  for (std::size_t i = channels.first; i < channels.first + channels.count; ++i) {
    ChannelLink& link = *links_[i].link;
    const LinkTick tick = link.Tick();
    gauges = gauges || tick.gaugeMoved;
    if (tick.expired) host.ChannelTimedOut(link.number(), tick);
  }
  host.AfterTick(gauges);
}

}  // namespace korvan
