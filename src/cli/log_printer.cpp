#include "cli/log_printer.h"

#include <algorithm>

namespace kvr {

void LogPrinter::Emit(const std::string& text, std::size_t from) {
  bool wrote = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    out_.put(text[i]);
    atLineStart_ = text[i] == '\n';
    wrote = true;
  }
  if (wrote) out_.flush();
}

void LogPrinter::Update(const std::string& text) {
  if (text == printed_) return;
  const auto mismatch = std::mismatch(printed_.begin(), printed_.end(), text.begin(), text.end());
  const auto common = static_cast<std::size_t>(mismatch.first - printed_.begin());
  if (common == printed_.size()) {
    Emit(text, common);
  } else {
    const auto lineBreak = common == 0 ? std::string::npos : text.rfind('\n', common - 1);
    const std::size_t lineStart = lineBreak == std::string::npos ? 0 : lineBreak + 1;
    if (!atLineStart_) {
      out_.put('\n');
      atLineStart_ = true;
    }
    Emit(text, lineStart);
  }
  printed_ = text;
}

void LogPrinter::Finish() {
  if (!atLineStart_) {
    out_.put('\n');
    out_.flush();
    atLineStart_ = true;
  }
}

}  // namespace kvr
