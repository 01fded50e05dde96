// The links of a run: every channel's link, any number of them, their ports' one event queue
// and their one 10 ms tick. A window runs an engine of four channels; a command-line gang runs
// one engine of all its programmers, whose channels serve stations of four (the hosts) but
// are counted, ticked and waited for here, together.
//
// A host (the station) adds its channels and numbers them 1..count among its own; the engine
// numbers every channel 1..ChannelCount() in the order they were added, so the host that
// added channels 5..8 knows them as 1..4.
//
// Threading: the owner's thread. The ports' reader threads post to events(); the owner drains
// it on its thread, and from there the blocks reach the links.
#pragma once

#include <memory>
#include <vector>

#include "core/link/channel_link.h"
#include "core/serial/port.h"
#include "core/util/event_queue.h"

namespace korvan {

class LinkEngine {
 public:
  LinkEngine() = default;
  ~LinkEngine();
  LinkEngine(const LinkEngine&) = delete;
  LinkEngine& operator=(const LinkEngine&) = delete;

  // Where the ports of every channel post what they receive.
  EventQueue& events() { return events_; }

  // Adds `count` channels served by `host`, known to it as 1..count, each with the port
  // `makePort` makes for its number among the host's. Returns the engine's number of the
  // first. The links stay where they are for the engine's life. Once per host.
  int AddChannels(LinkHost& host, int count, const PortFactory& makePort);

  // The host goes (before the engine): its channels' ports close, and its channels are neither
  // ticked nor waited for any more; they keep their numbers.
  void ReleaseHost(LinkHost& host);

  int ChannelCount() const { return static_cast<int>(links_.size()); }
  // Channel c of the engine, 1..ChannelCount().
  ChannelLink& Link(int c) { return *links_.at(static_cast<std::size_t>(c - 1)).link; }
  const ChannelLink& Link(int c) const { return *links_.at(static_cast<std::size_t>(c - 1)).link; }

  // A channel has a time-out to count: an operation runs, an upgrade runs or a restart's
  // answer is awaited. While none has, the tick has nothing to do.
  bool TickWanted() const;
  // A channel is at work: an operation or an upgrade runs on it.
  bool AnyAtWork() const;
  // A firmware upgrade runs on a channel.
  bool AnyUpgrading() const;
  // A channel awaits the answer to a restart request.
  bool AnyRestartAnswerDue() const;

  // The 10 ms tick of every host's channels, host by host in the order they were added
  // (TickHost for each).
  void Tick();
  // The tick of one host's channels: none while the host stalls (a question is open); else
  // the host takes what waited (BeforeTick), each of its channels counts its time-out, the host
  // hears of each whose time-out ran out (ChannelTimedOut), then that the tick is over and
  // whether it moved a gauge (AfterTick).
  void TickHost(LinkHost& host);

 private:
  struct Entry {
    LinkHost* host;  // nullptr once released
    std::unique_ptr<ChannelLink> link;
  };

  template <typename Test>
  bool AnyChannel(Test test) const;

  EventQueue events_;
  std::vector<Entry> links_;
  // The hosts in the order they added channels, each with its channels: links_[first] and the
  // `count` - 1 after it.
  struct HostChannels {
    LinkHost* host;
    std::size_t first;
    std::size_t count;
  };
  void TickChannels(HostChannels channels);

  std::vector<HostChannels> hosts_;
};

}  // namespace korvan
