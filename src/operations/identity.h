#pragma once

#include <cstdint>
#include <string>

#include "operations/operation_context.h"

namespace kvr {

// The identity text of a reply: two hex digits of the high byte, then two of the low byte.
std::string IdentityText(std::uint8_t low, std::uint8_t high);

// The model text for an identity text in the decode table of the class; empty when the table
// does not hold it. The code "10F4" reads as "F410" afterwards.
std::string DecodeIdentity(std::int16_t classCode, std::string& identityText);

// Reads the chip's identity and compares it with the selected model's: 0 equal, -2 different,
// -1 no reply.
std::int16_t ReadIdentity(OperationContext& context, bool showMessages);

}  // namespace kvr
