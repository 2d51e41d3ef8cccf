#pragma once

#include <cstdint>

#include "operations/operation_context.h"

namespace kvr {

constexpr Wording kCheckEmptyFailed{"Check MCU empty failed.", "检查空片失败。"};

// Erases the whole chip (command 0x08, up to 6 attempts): 0 on a reply, -1 without.
std::int16_t EraseChip(const OperationContext& context, bool showMessages);

// Blank check (command 0x09): the writer acknowledges, scans the flash and then sends a result
// frame on its own. 0 blank, -2 a byte other than 0xFF was found, -1 no usable result or stopped.
std::int16_t BlankCheck(const OperationContext& context, bool showMessages);

}  // namespace kvr
