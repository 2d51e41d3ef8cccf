#include "platform/virtual/virtual_clock.h"

namespace kvr {

VirtualClock::EventId VirtualClock::ScheduleAt(Micros at, std::function<void()> action) {
  if (at < now_) at = now_;
  const EventId id = nextId_++;
  queue_.emplace(Key{at, id}, std::move(action));
  due_.emplace(id, at);
  return id;
}

void VirtualClock::Cancel(EventId id) {
  const auto it = due_.find(id);
  if (it == due_.end()) return;
  queue_.erase(Key{it->second, id});
  due_.erase(it);
}

bool VirtualClock::RunNext() {
  if (queue_.empty()) return false;
  auto first = queue_.begin();
  now_ = first->first.first;
  due_.erase(first->first.second);
  auto action = std::move(first->second);
  queue_.erase(first);
  ++eventsRun_;
  action();
  return true;
}

void VirtualClock::RunDue() {
  while (!queue_.empty() && queue_.begin()->first.first <= now_) RunNext();
}

}  // namespace kvr
