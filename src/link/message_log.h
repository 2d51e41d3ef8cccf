#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvr {

// The line break the message log holds, as the window's multi-line text control keeps it.
inline constexpr const char* kLineBreak = "\r\n";

// The message log `textMsg`: UTF-8 text and the caret, a byte offset into it. Every change bumps
// the revision so that a view can tell cheaply whether it must redraw.
class MessageLog {
 public:
  const std::string& Text() const { return text_; }
  std::size_t Caret() const { return caret_; }
  std::uint64_t Revision() const { return revision_; }

  void Replace(std::string text);
  void Append(const std::string& text);
  void AppendLineBreak() { Append(kLineBreak); }
  void MoveCaretToEnd();
  // Caret to a byte offset, held within the text.
  void SetCaret(std::size_t position);
  // Caret to the start of the last line of the log.
  void MoveCaretToLastLineStart();
  bool Contains(const std::string& text) const { return text_.find(text) != std::string::npos; }

 private:
  std::string text_;
  std::size_t caret_ = 0;
  std::uint64_t revision_ = 0;
};

// A message in both wordings, chosen by the window's language flag.
struct Wording {
  const char* english;
  const char* chinese;
  const char* Pick(bool useEnglish) const { return useEnglish ? english : chinese; }
};

}  // namespace kvr
