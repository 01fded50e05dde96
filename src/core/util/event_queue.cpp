#include "core/util/event_queue.h"

namespace korvan {

bool EventQueue::DispatchOne() {
  std::optional<Event> event = queue_.TryPop();
  if (!event) return false;
  // The lock is not held here, so the handler may post, drain or discard freely.
  if (event->receiver != nullptr) event->receiver->HandleEvent(*event);
  return true;
}

std::size_t EventQueue::Drain() {
  // Only what is waiting now: a port that keeps receiving must not keep the owner's loop from
  // its timer.
  const std::size_t waiting = queue_.Size();
  std::size_t count = 0;
  while (count < waiting && DispatchOne()) ++count;
  return count;
}

std::size_t EventQueue::Discard(const EventReceiver* receiver) {
  return queue_.RemoveIf([receiver](const Event& e) { return e.receiver == receiver; });
}

}  // namespace korvan
