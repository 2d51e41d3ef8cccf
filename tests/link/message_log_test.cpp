// The log's caret: where the window scrolls to and where the next report line is placed.

#include "link/message_log.h"

#include <gtest/gtest.h>

namespace kvr {
namespace {

TEST(MessageLog, TheCaretStaysWithinTheText) {
  MessageLog log;
  EXPECT_EQ(log.Caret(), 0U);
  log.Append("ab\r\ncd");
  log.SetCaret(3);
  EXPECT_EQ(log.Caret(), 3U);
  log.SetCaret(99);
  EXPECT_EQ(log.Caret(), 6U);
  log.MoveCaretToLastLineStart();
  EXPECT_EQ(log.Caret(), 4U);

  // Replaced by a shorter text the caret moves to its end; within it, it stays.
  log.Replace("xyz");
  EXPECT_EQ(log.Caret(), 3U);
  log.SetCaret(1);
  log.Replace("12345");
  EXPECT_EQ(log.Caret(), 1U);
  log.MoveCaretToLastLineStart();
  EXPECT_EQ(log.Caret(), 0U) << "a single line starts at 0";
}

}  // namespace
}  // namespace kvr
