// The line database: with one, the serial numbering, the good count and the chips' records are
// those of the whole line, kept in SQLite or PostgreSQL where every station of every PC of the
// line reaches them, instead of in this PC's settings file.

#include "app/station.h"

namespace kvr {

namespace {

constexpr const char* kDefaultLine = "default";
constexpr Wording kLineUnusable{"The line database cannot be used: ", "生产线数据库无法使用: "};
constexpr Wording kCountNotStored{"The good count could not be stored in the line database: ",
                                  "合格计数无法保存到生产线数据库: "};

}  // namespace

std::string Station::LineName() const {
  if (!lineChoice_.line.empty()) return lineChoice_.line;
  // An open production job's product names its line.
  if (!JobProductName().empty()) return JobProductName();
  return kDefaultLine;
}

LineDatabase* Station::Line() {
  const std::string url = Trim(txtLineDatabase.text);
  if (line_ && lineOpenedFor_ == url) return line_.get();
  line_.reset();
  lineOpenedFor_ = url;
  lineProblem_.clear();
  if (platform_.lineDatabases == nullptr)
    lineProblem_ = "this station was built without line databases";
  else
    line_ = platform_.lineDatabases->Open(url, lineProblem_);
  return line_.get();
}

LineStation Station::LineWho() {
  LineStation who;
  who.host = ValidUtf8(HostName);
  who.port = EscapeFileName(PortText());
  who.epochMicros = Clock().EpochMicros();
  who.utcOffsetMinutes = Clock().UtcOffsetMinutes(who.epochMicros);
  return who;
}

std::optional<LineState> Station::ReadLine() {
  LineDatabase* line = Line();
  std::optional<LineState> state = line != nullptr ? line->Read(LineName()) : std::nullopt;
  if (state)
    ShowLine(*state);
  else
    ShowLineProblem(line != nullptr ? line->LastError() : lineProblem_);
  return state;
}

void Station::ShowLine(const LineState& state) {
  LineProblem.clear();
  const std::string count = std::to_string(state.goodCount);
  std::string next = state.pool ? state.pool->next : std::string();
  labLineDatabase.caption = UseEnglish ? "Line " + LineName() + ": " + count + " good" +
                                             (next.empty() ? "" : ", next number " + next)
                                       : "生产线 " + LineName() + ": 合格 " + count +
                                             (next.empty() ? "" : ", 下一个序列号 " + next);
}

void Station::ShowLineProblem(const std::string& problem) {
  LineProblem = problem;
  labLineDatabase.caption = (UseEnglish ? "Line " : "生产线 ") + LineName() + ": " + problem;
}

void Station::LoadLine() {
  if (!LineInUse()) {
    labLineDatabase.caption.clear();
    LineProblem.clear();
    return;
  }
  const std::optional<LineState> state = ReadLine();
  if (!state) return;
  if (state->pool) TakePool(*state->pool);
  txtWrite_OK_Count.text = storedOkCount_ = std::to_string(state->goodCount);
}

void Station::OnLineDatabaseChange() {
  if (!txtLineDatabase.enabled) return;
  const std::string url = Trim(txtLineDatabase.text);
  if (LineUrlHoldsPassword(url)) {
    platform_.dialogs.Information(kLineUnusable.Pick(UseEnglish) + LineUrlProblem(url));
    txtLineDatabase.text = lineChoice_.database.value_or(storedLineDatabase_);
    return;
  }
  // The operator's choice is stored from now on.
  lineChoice_.database.reset();
  if (url.empty()) {
    // Back to this PC's own numbering and count.
    LoadLine();
    LoadSerialSettings();
    txtWrite_OK_Count.text = storedOkCount_ = ReadSetting("Write_OK_Count", "0");
  } else {
    LoadLine();
  }
  FitCheckDue = false;
  timer3_->SetEnabled(true);
}

bool Station::RecordInLine(const ProductionRecord& record) {
  LastLineError.clear();
  lineAfterRun_.reset();
  LineRecord row = ToLineRecord(record);
  LineDatabase* line = Line();
  std::optional<LineState> after =
      line != nullptr ? line->AddRecord(LineName(), row) : std::nullopt;
  if (!after) {
    LastLineError = line != nullptr ? line->LastError() : lineProblem_;
    ShowLineProblem(LastLineError);
    return false;
  }
  lineAfterRun_ = after;
  ShowLine(*after);
  return true;
}

bool Station::SaveCountToLine(const std::string& count) {
  LineDatabase* line = Line();
  const std::optional<std::int64_t> stored =
      line != nullptr
          ? line->ChangeCount(LineName(), [&](std::int64_t) { return ReadNumber(count); })
          : std::nullopt;
  if (!stored) {
    const std::string why = line != nullptr ? line->LastError() : lineProblem_;
    ShowLineProblem(why);
    textMsg.Append(kLineBreak + (kCountNotStored.Pick(UseEnglish) + why));
    textMsg.MoveCaretToEnd();
    return false;
  }
  txtWrite_OK_Count.text = storedOkCount_ = std::to_string(*stored);
  return true;
}

}  // namespace kvr
