// The wire trace: one JSON line per frame (and per run of noise, and per event of the line)
// that crossed between the PC and the programmers, for seeing what went wrong on real hardware.
//
// Whoever moves bytes (a TracingPort around a channel's Port, the emulator's serving thread)
// hands each block to `Bytes` as it goes: the block is copied and time-stamped and queued, and
// returns at once. One writer thread of the trace's own cuts the blocks into frames (a
// WireCutter per channel and direction) and writes the lines, so no serial thread or front-end
// thread ever waits on the file.
//
// The trace is a diagnostic, not a record: a file that cannot be opened or written is reported
// once through `problem` and the trace goes quiet; the run goes on. The file is flushed whenever
// the writer has caught up, and at Close.
//
// Times are seconds on the monotonic clock (CLOCK_MONOTONIC), with microseconds, so that traces
// of two programs on one machine (korvan-cli and korvan-sim) line up.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/trace/wire_cutter.h"

namespace korvan::trace {

struct TraceOptions {
  // Every frame's bytes in full, big bodies included.
  bool full = false;
  // Who writes the trace, for its first line ("korvan-cli run").
  std::string program;
  // Told once, from any thread, when the file cannot be opened or written.
  std::function<void(const std::string& text)> problem;
};

class WireTrace {
 public:
  // What a line event is.
  enum class Event { Open, Close, Hangup, LineError };

  // Opens (truncates) `path` and starts the writer. When the file cannot be opened the problem
  // is told at once and the trace takes and drops everything.
  WireTrace(const std::string& path, TraceOptions options);
  ~WireTrace();  // Close
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  // A block that crossed channel `channel`'s line (`port`, as shown) in `direction`. Any
  // thread; copies the bytes and returns without waiting for the file.
  void Bytes(int channel, const std::string& port, Direction direction,
             std::span<const std::uint8_t> block);
  // An event of the line. Close and Hangup also end a frame still open in either direction.
  void Mark(int channel, const std::string& port, Event event, std::uint32_t flags = 0);

  // Writes everything queued, flushes and closes the file; later blocks are dropped. Any
  // thread but the writer's; safe to call more than once.
  void Close();

  // False once the file could not be opened or written.
  bool Writing() const;

  // Seconds on the monotonic clock now, as trace lines write them.
  static double Now();

 private:
  struct Item {
    double time = 0;
    int channel = 0;
    std::string port;
    bool isEvent = false;
    Direction direction = Direction::ToProgrammer;
    Event event = Event::Open;
    std::uint32_t flags = 0;
    std::vector<std::uint8_t> bytes;
  };

  void Post(Item item);
  void Run();
  void Handle(const Item& item, std::string& out);
  WireCutter& Cutter(int channel, const std::string& port, Direction direction);
  void Fail(const std::string& text);

  TraceOptions options_;
  std::string path_;
  std::FILE* file_ = nullptr;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  std::size_t queuedBytes_ = 0;
  std::uint64_t dropped_ = 0;  // bytes not queued since the writer fell too far behind
  bool closing_ = false;
  bool closed_ = false;
  bool failed_ = false;
  std::thread writer_;

  // Writer thread only.
  std::map<std::tuple<int, std::string, int>, WireCutter> cutters_;
};

}  // namespace korvan::trace
