#pragma once

#include <cstdint>

namespace kvr {

// Time of day for records and elapsed time for durations.
class WallClock {
 public:
  virtual ~WallClock() = default;
  // Microseconds since 1970-01-01T00:00:00Z.
  virtual std::int64_t EpochMicros() = 0;
  // Local time's offset from UTC at that moment, in minutes (east positive).
  virtual int UtcOffsetMinutes(std::int64_t epochMicros) = 0;
  // A clock that never goes back, for durations.
  virtual std::int64_t MonotonicMicros() = 0;
};

// The machine's clocks (standard C++ and the C library's local time).
class SystemWallClock : public WallClock {
 public:
  std::int64_t EpochMicros() override;
  int UtcOffsetMinutes(std::int64_t epochMicros) override;
  std::int64_t MonotonicMicros() override;
};

}  // namespace kvr
