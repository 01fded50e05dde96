// The forwarder of a station's production records to the line database. Every record is
// committed to the station's own store first; the forwarder, on a thread of its own, takes the
// store's outbox (the records not yet forwarded) oldest first, inserts it into the line
// database in batches and marks a batch forwarded only once the database committed it. So the
// station never waits for the network, a record lost on the way is sent again, and a retry never
// duplicates (the database keeps each station's record once).
//
// While the database cannot be reached the forwarder tries again with a growing pause (from
// `retryMin` doubling up to `retryMax`) and reports the change of state once each way: the
// station keeps working and the records wait in the store. A backlog left by a station stopped
// between the local commit and the forwarding is forwarded when the next one starts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/records/record_store.h"

namespace korvan {

class LineDatabase;

// A change the forwarder reports.
struct LineNotice {
  enum class Kind {
    Unreachable,  // the database cannot be reached (or refused a batch); records wait
    Reachable,    // it can be reached again after it could not; the backlog goes out
    StoreFailed,  // the station's own store could not be read or marked
  };
  Kind kind = Kind::Unreachable;
  std::string text;                    // for the information panel
  std::optional<std::size_t> pending;  // records waiting in the outbox when it was said; none
                                       // when the store could not be counted
};

struct LineForwarderOptions {
  std::size_t batch = 500;
  std::chrono::milliseconds poll{200};  // how often the outbox is looked at when nothing wakes it
  std::chrono::milliseconds retryMin{250};
  std::chrono::milliseconds retryMax{8000};
};

class LineForwarder {
 public:
  // Forwards from the store in `folder` (opened again by the forwarder for its own thread) to
  // the database at `url`. `notice` is called on the forwarder's thread.
  LineForwarder(std::filesystem::path folder, std::string url,
                std::function<void(const LineNotice&)> notice, LineForwarderOptions options = {});
  // Stops the thread (a batch under way is finished or given up first).
  ~LineForwarder();
  LineForwarder(const LineForwarder&) = delete;
  LineForwarder& operator=(const LineForwarder&) = delete;

  // Starts the thread; false and *error when the store cannot be opened.
  bool Start(std::string* error);
  // A record was committed: look at the outbox now rather than at the next poll.
  void Wake();
  // Tries at once (a pause between retries is cut short) and waits until the outbox was found
  // empty after this call, or a try after it failed, or `limit` passed. True when everything
  // committed before the call was forwarded.
  bool Flush(std::chrono::milliseconds limit);
  // The same; when it returns false because a try after the call failed, *waiting is how many
  // records that try left in the outbox (0 only when the outbox was read and found empty);
  // otherwise (time out, store unreadable) *waiting is left empty.
  bool Flush(std::chrono::milliseconds limit, std::optional<std::size_t>* waiting);
  void Stop();

  // The station's id (its store's); from a successful Start on.
  const std::string& stationId() const { return stationId_; }
  // Records forwarded since the start; the database can be reached (as last tried).
  std::uint64_t forwarded() const;
  bool reachable() const;

 private:
  void Run();
  enum class PassResult { Empty, More, Failed };
  // One pass: connect if need be, forward one batch.
  PassResult Pass();
  void Report(LineNotice::Kind kind, const std::string& text);

  const std::filesystem::path folder_;
  const std::string url_;
  const std::function<void(const LineNotice&)> notice_;
  const LineForwarderOptions options_;
  std::unique_ptr<RecordStore> store_;
  std::string stationId_;
  std::unique_ptr<LineDatabase> db_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::uint64_t wakes_ = 0;                   // Wake and Flush calls so far
  std::uint64_t flushes_ = 0;                 // Flush calls so far
  std::uint64_t emptyAfter_ = 0;              // the outbox was found empty after this many wakes
  std::uint64_t failedAfter_ = 0;             // a pass failed after this many wakes
  std::optional<std::size_t> failedWaiting_;  // records the last failed pass left, when known
  std::optional<std::size_t> passWaiting_;    // the same, set by Pass on its own thread
  bool unreachable_ = false;                  // said so, and not yet said it is back
  bool storeFailed_ = false;
  std::uint64_t forwarded_ = 0;
  std::thread thread_;
};

}  // namespace korvan
