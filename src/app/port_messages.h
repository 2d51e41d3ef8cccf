#pragma once

#include <string>

#include "link/message_log.h"
#include "platform/serial_port.h"

namespace kvr {

// The line a run ends with when its port went away under it.
inline constexpr Wording kPortLost{"COM port lost: the adapter was disconnected!",
                                   "串口丢失: 串口适配器已断开!"};

// The line that follows "Open COM port is failed!": what most likely stands in the way and what
// the operator can do about it. Empty when nothing is known.
std::string OpenFailureLine(const OpenFailure& failure, bool english);

}  // namespace kvr
