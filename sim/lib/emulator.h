// The programmer emulator: N emulated Korvan200NAT programmers, each on a pseudo-terminal of
// its own, served by one thread.
//
// korvan-sim runs it until a signal; integration tests run it inside their own process:
//
//   korvan::sim::Emulator emulator(options);
//   std::string error;
//   ASSERT_TRUE(emulator.Start(&error)) << error;
//   OpenPort(emulator.Paths()[0]);  // the slave side, as the station opens a serial port
//   ...
//   emulator.Stop();  // or let the destructor do it
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/trace/wire_trace.h"
#include "lib/options.h"
#include "lib/programmer.h"

namespace korvan::sim {

class Emulator {
 public:
  explicit Emulator(Options options);
  ~Emulator();  // stops
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Every block read from and written to a pseudo-terminal, and every hang-up, goes to
  // `trace` as it happens (requests "pc>prog", replies "prog>pc", channels numbered as
  // here). Call before Start.
  void SetTrace(std::shared_ptr<trace::WireTrace> trace) { trace_ = std::move(trace); }

  // Opens the pseudo-terminals and starts serving them on a thread of its own. False, with
  // `error` set and nothing left open, when a pseudo-terminal cannot be had. Call once.
  bool Start(std::string* error);

  // The ports, channel 1 first, valid after a successful Start: links named ttyNAT01, ttyNAT02,
  // ... in a private temporary folder to the slave sides (/dev/pts/N), so that their text order
  // is the channels' order.
  const std::vector<std::string>& Paths() const { return paths_; }

  // Stops serving, joins the thread, writes the dump when a dump directory was given and
  // closes every pseudo-terminal. Safe to call more than once and from any thread but the
  // emulator's own. False, with `error` set, when the dump could not be written.
  bool Stop(std::string* error = nullptr);

  // A copy of channel `channel`'s state (1..count), taken between two steps of the thread.
  ChannelSnapshot Snapshot(int channel) const;

  // True once channel `channel`'s pseudo-terminal was closed by the hang-up fault.
  bool HungUp(int channel) const;

 private:
  struct Port {
    int master = -1;
    int slave = -1;          // held open so that the master never sees a hang-up between openers
    bool blocked = false;    // the last write found the pseudo-terminal full
    TimePoint hangupFrom{};  // the hang-up fault closes the port not before then
    TimePoint hangupBy{};    // and by then at the latest
    TimePoint recheck{};     // when to look again whether the station read the last reply
    std::unique_ptr<Programmer> programmer;
  };

  void Run();
  void Serve(Port& port, TimePoint now);
  void ClosePort(Port& port);
  bool LinkPorts(std::string* error);
  void AbandonStart();
  void RemoveLinks();

  Options options_;
  std::shared_ptr<trace::WireTrace> trace_;
  std::vector<Port> ports_;
  std::vector<std::string> paths_;
  std::string linkDir_;  // the folder of the ports' names, removed at Stop
  int wake_ = -1;        // eventfd that ends the thread's wait
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  bool stopped_ = false;
  mutable std::mutex mutex_;  // held by the thread while it serves, and by Snapshot
};

}  // namespace korvan::sim
