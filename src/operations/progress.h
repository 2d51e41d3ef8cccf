#pragma once

#include <cstdint>
#include <string>

#include "controls/controls.h"

namespace kvr {

// A quotient in the "####.000" form followed by "K": the integer part without leading zeros
// (nothing before the point when it is 0), three decimals rounded half away from zero. 1536 / 1024
// gives "1.500K", 512 / 1024 gives ".500K".
std::string SizeText(std::int64_t numerator, std::int64_t denominator);

// The progress bar and the size label beside it, shown while a long operation runs.
struct ProgressDisplay {
  ProgressBar& bar;
  Label& size;

  void Show(std::int32_t minimum, std::int32_t maximum) {
    bar.minimum = minimum;
    bar.maximum = maximum;
    bar.visible = true;
    size.visible = true;
  }
  void Hide() {
    bar.visible = false;
    size.visible = false;
  }
  // Values beyond the bar's range are clamped to it.
  void Set(std::int64_t value) {
    bar.value = static_cast<int>(value < bar.minimum   ? bar.minimum
                                 : value > bar.maximum ? bar.maximum
                                                       : value);
  }
};

}  // namespace kvr
