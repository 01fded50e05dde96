// The hand-over point between the serial worker threads and the thread that runs the station.
//
// Worker threads only move byte blocks and report what they saw on the line; everything else
// happens on one thread (the front end's). They meet here: a worker posts an `Event`, the owner's
// thread drains the queue and each event is handed to the `EventReceiver` it names. A received
// block travels inside its event, and its ownership moves with it.
//
// The queue is drainable from any loop that can watch a file descriptor: `NotifyFd()` is an
// eventfd that is readable exactly while events are waiting (the Qt window watches it with a
// socket notifier, the core's `EventLoop` with poll).
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

namespace korvan {

// A first-in, first-out queue of T whose eventfd is readable while the queue is not empty.
// Any thread may push and pop. This is the one lock of the station: it is held only to move an
// item in or out, never while an item is handled.
template <typename T>
class NotifyingQueue {
 public:
  // Throws std::system_error when the eventfd cannot be created.
  NotifyingQueue() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  ~NotifyingQueue() { ::close(fd_); }
  NotifyingQueue(const NotifyingQueue&) = delete;
  NotifyingQueue& operator=(const NotifyingQueue&) = delete;

  // Readable (POLLIN) exactly while at least one item is waiting. Owned by the queue.
  int NotifyFd() const { return fd_; }

  // Appends an item. Throws std::bad_alloc when memory runs out (the item is then not queued).
  void Push(T item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
    if (items_.size() == 1) Signal();
  }

  // Takes the oldest item, or nullopt when none is waiting. Never blocks on anything but the
  // lock.
  std::optional<T> TryPop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    if (items_.empty()) Unsignal();
    return item;
  }

  // Removes every item for which `match` returns true, keeping the order of the rest. `match`
  // runs under the lock and must not touch the queue.
  template <typename Match>
  std::size_t RemoveIf(Match match) {
    std::lock_guard lock(mutex_);
    std::size_t removed = 0;
    for (auto it = items_.begin(); it != items_.end();) {
      if (match(*it)) {
        it = items_.erase(it);
        ++removed;
      } else {
        ++it;
      }
    }
    if (removed != 0 && items_.empty()) Unsignal();
    return removed;
  }

  // Drops every waiting item.
  void Clear() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return;
    items_.clear();
    Unsignal();
  }

  std::size_t Size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  // The counter is raised when the queue becomes non-empty and read back to zero when it
  // becomes empty, both under the lock, so readability always matches the queue's state.
  void Signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
  }
  void Unsignal() {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
  }

  mutable std::mutex mutex_;
  std::deque<T> items_;
  int fd_;
};

class EventReceiver;

// What a worker thread reports. The numbering follows the order of the serial component's
// notification messages.
enum class EventKind : std::uint8_t {
  DataReceived = 1,      // `block` holds `length` bytes (and a zero byte after them)
  ReceiveError = 2,      // `value` = line-error flags
  RequestHangup = 3,     // the port is gone or a worker thread failed
  ModemStateChange = 4,  // `value` = modem event bits
  SendDataEmpty = 5,     // the transmit queue ran empty
};

struct Event {
  EventReceiver* receiver = nullptr;
  EventKind kind = EventKind::RequestHangup;
  std::uint32_t value = 0;
  std::uint32_t length = 0;
  std::uint32_t tag = 0;  // the poster's own mark (the serial port: which opening raised it)
  std::unique_ptr<std::uint8_t[]> block;
};

// Something that events are addressed to. `HandleEvent` runs on the thread that drains the
// queue; the event (and its block) is released when it returns.
class EventReceiver {
 public:
  virtual void HandleEvent(Event& event) = 0;

 protected:
  ~EventReceiver() = default;
};

// The queue of events for one owner thread. Post from any thread; drain on the owner's thread.
class EventQueue {
 public:
  // Readable while events are waiting; watch it and call `Drain` when it is.
  int NotifyFd() const { return queue_.NotifyFd(); }

  // Queues an event for its receiver. Any thread. Throws std::bad_alloc when memory runs out;
  // the event (and its block) is then released.
  void Post(Event event) { queue_.Push(std::move(event)); }

  // Hands the oldest waiting event to its receiver. Owner's thread only. Returns false when
  // nothing was waiting. Safe to call again from inside a handler (a modal question that runs a
  // nested loop): events are still delivered one at a time in the order posted.
  bool DispatchOne();

  // Dispatches the events that are waiting when it is called (not those posted meanwhile, so a
  // busy port cannot starve the caller's loop); returns how many it dispatched. Owner's thread.
  std::size_t Drain();

  // Forgets every waiting event addressed to `receiver`. A receiver calls it before it goes
  // away, once nothing can post to it any more. Owner's thread.
  std::size_t Discard(const EventReceiver* receiver);

  std::size_t Size() const { return queue_.Size(); }

 private:
  NotifyingQueue<Event> queue_;
};

}  // namespace korvan
