#include "platform/wall_clock.h"

#include <chrono>
#include <ctime>

namespace kvr {

std::int64_t SystemWallClock::EpochMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int SystemWallClock::UtcOffsetMinutes(std::int64_t epochMicros) {
  const std::time_t seconds = static_cast<std::time_t>(epochMicros / 1'000'000);
  std::tm local{};
  std::tm utc{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
  gmtime_s(&utc, &seconds);
#else
  localtime_r(&seconds, &local);
  gmtime_r(&seconds, &utc);
#endif
  // The same moment read as local and as UTC calendar time: their difference is the offset.
  int minutes = (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
  const int dayDifference = local.tm_yday - utc.tm_yday;
  if (dayDifference == 1 || dayDifference < -1) minutes += 24 * 60;
  if (dayDifference == -1 || dayDifference > 1) minutes -= 24 * 60;
  return minutes;
}

std::int64_t SystemWallClock::MonotonicMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace kvr
