#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/option_panel.h"
#include "controls/controls.h"
#include "operations/operation_context.h"

namespace kvr {

// The two option registers as the chip reports them: OR0 and OR1 (layout A, classes 2, 11, 12
// and 13), or the option byte and the mode byte (layout B, class 1).
using OptionBytes = std::array<std::uint8_t, 2>;
// What the program-options frame carries: the two option bytes, then zeros.
using OptionPayload = std::array<std::uint8_t, 16>;

inline bool UsesLayoutB(std::int16_t classCode) {
  return classCode == 1;
}

// The payload the option panel asks for.
OptionPayload OptionBytesFromPanel(const OptionPanelControls& panel, std::int16_t classCode);

// The ISP size the bytes select: "0.0 K", "1.0 K", "2.5 K", ...
std::string OptionIspSizeText(const OptionBytes& bytes, std::int16_t classCode);

// The option report in the message log. In layout A's English form it also replaces the buffer
// view with the register table (`view` then holds the table, its selection cleared).
void OptionReport(const OperationContext& context, const OptionBytes& bytes, SelectableText& view);

// The register table of layout A: the bit-number line, then header and value row of OR0 and OR1.
std::string RegisterTable(const OptionBytes& bytes);

// Sets the read-back labels of the option panel from the bytes, in a language.
void ShowReadOutLabels(OptionPanelControls& panel, const OptionBytes& bytes, std::int16_t classCode,
                       bool english);

// Sets the read-back labels of the option panel from the bytes; in layout A the same texts are
// also written to the log, a line each.
void ShowReadOptions(const OperationContext& context, OptionPanelControls& panel,
                     const OptionBytes& bytes);

// Reads the option registers (command 0x01, up to 6 attempts): 0 and the bytes on success, -1
// when no reply came. With messages it reports the outcome and, on success, the option report.
std::int16_t ReadOptions(const OperationContext& context, bool showMessages, OptionBytes& bytes,
                         SelectableText& view);

// Programs the option registers from the panel (command 0x05, up to 4 attempts), with its
// messages; an attempt succeeds when the reply echoes the two option bytes. 0 on success, -1 on
// failure; after a failure `chipAnswer` holds what the chip last answered in this operation,
// shown on the read-back labels, or nothing.
std::int16_t ProgramOptions(const OperationContext& context, OptionPanelControls& panel,
                            std::optional<OptionBytes>& chipAnswer);

}  // namespace kvr
