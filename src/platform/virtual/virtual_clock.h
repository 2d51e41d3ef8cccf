#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

namespace kvr {

// Virtual time for tests: events are delivered one at a time in time order (same-time events in
// the order they were scheduled), and the clock jumps to each. A four-second time-out takes no
// real time and ends the same way every run.
class VirtualClock {
 public:
  using Micros = std::int64_t;
  using EventId = std::uint64_t;

  Micros Now() const { return now_; }
  double NowMs() const { return static_cast<double>(now_) / 1000.0; }

  EventId ScheduleAt(Micros at, std::function<void()> action);
  EventId ScheduleAfter(Micros delay, std::function<void()> action) {
    return ScheduleAt(now_ + delay, std::move(action));
  }
  void Cancel(EventId id);

  // Runs the earliest event, moving the clock to it; false when nothing is scheduled.
  bool RunNext();
  // Runs every event due at or before the current time.
  void RunDue();
  bool HasPending() const { return !queue_.empty(); }
  std::uint64_t EventsRun() const { return eventsRun_; }

 private:
  using Key = std::pair<Micros, EventId>;
  std::map<Key, std::function<void()>> queue_;
  std::unordered_map<EventId, Micros> due_;
  Micros now_ = 0;
  EventId nextId_ = 1;
  std::uint64_t eventsRun_ = 0;
};

}  // namespace kvr
