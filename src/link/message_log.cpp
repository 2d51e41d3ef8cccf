#include "link/message_log.h"

#include <cstring>

namespace kvr {

void MessageLog::Replace(std::string text) {
  text_ = std::move(text);
  if (caret_ > text_.size()) caret_ = text_.size();
  ++revision_;
}

void MessageLog::Append(const std::string& text) {
  text_ += text;
  ++revision_;
}

void MessageLog::MoveCaretToEnd() {
  caret_ = text_.size();
  ++revision_;
}

void MessageLog::SetCaret(std::size_t position) {
  caret_ = position < text_.size() ? position : text_.size();
  ++revision_;
}

void MessageLog::MoveCaretToLastLineStart() {
  const auto breakAt = text_.rfind(kLineBreak);
  caret_ = breakAt == std::string::npos ? 0 : breakAt + std::strlen(kLineBreak);
  ++revision_;
}

}  // namespace kvr
