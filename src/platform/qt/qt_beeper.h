#pragma once

#include "platform/beeper.h"

namespace kvr {

class QtBeeper : public Beeper {
 public:
  void Beep() override;
};

}  // namespace kvr
