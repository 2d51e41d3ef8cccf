#include "platform/virtual/virtual_platform.h"

#include <algorithm>

namespace kvr {

void VirtualEventPump::WaitForEvents() {
  if (idleHook_) idleHook_();
  if (clock_.EventsRun() >= budget_)
    throw VirtualDeadlock("the station handled more events than the scenario allows");
  if (!clock_.RunNext())
    throw VirtualDeadlock("the station waits for an event that can never come");
}

void VirtualEventPump::ProcessPendingEvents() {
  if (idleHook_) idleHook_();
  clock_.RunDue();
}

VirtualTimer::~VirtualTimer() {
  clock_.Cancel(pending_);
}

void VirtualTimer::Arm() {
  clock_.Cancel(pending_);
  pending_ = 0;
  if (enabled_ && interval_ > 0)
    pending_ = clock_.ScheduleAfter(static_cast<VirtualClock::Micros>(interval_) * 1000,
                                    [this] { Tick(); });
}

void VirtualTimer::SetInterval(int milliseconds) {
  interval_ = milliseconds;
  Arm();
}

void VirtualTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Arm();
}

void VirtualTimer::Tick() {
  pending_ = 0;
  Arm();  // a timer keeps ticking until its handler disables it
  if (handler_) handler_();
}

bool VirtualSerialPort::SelectPort(int number) {
  if (open_ || number < 1 || number > 8) return false;
  selected_ = number;
  return true;
}

bool VirtualSerialPort::SetParameters(int baud) {
  if (baud <= 0) return false;
  baud_ = baud;
  return true;
}

bool VirtualSerialPort::Open() {
  lastFailure_ = {};
  if (open_ || selected_ == 0) return false;
  if (const auto it = unavailable_.find(selected_); it != unavailable_.end()) {
    lastFailure_ = it->second;
    return false;
  }
  open_ = true;
  ++openCount_;
  inbox_.clear();
  return true;
}

void VirtualSerialPort::Close() {
  open_ = false;
  inbox_.clear();
}

bool VirtualSerialPort::ClearInput() {
  if (!open_) return false;
  inbox_.clear();
  return true;
}

bool VirtualSerialPort::ClearOutput() {
  return open_;
}

Bytes VirtualSerialPort::ReadAll() {
  Bytes bytes;
  if (readLimit > 0 && inbox_.size() > readLimit) {
    const auto end = inbox_.begin() + static_cast<std::ptrdiff_t>(readLimit);
    bytes.assign(inbox_.begin(), end);
    inbox_.erase(inbox_.begin(), end);
  } else {
    bytes.swap(inbox_);
  }
  return bytes;
}

bool VirtualSerialPort::Write(const Bytes& bytes) {
  if (!open_) return false;
  written_.push_back(bytes);
  if (onWrite) onWrite(bytes);
  return true;
}

void VirtualSerialPort::DeliverAfter(VirtualClock::Micros delay, Bytes bytes) {
  clock_.ScheduleAfter(delay, [this, bytes = std::move(bytes)] {
    if (!open_) return;
    inbox_.insert(inbox_.end(), bytes.begin(), bytes.end());
    if (handler_) handler_();
  });
}

void VirtualSerialPort::SetUnavailable(int number, bool unavailable) {
  if (unavailable)
    unavailable_[number] = {};
  else
    unavailable_.erase(number);
}

void VirtualSerialPort::SetOpenFailure(int number, OpenFailure failure) {
  unavailable_[number] = std::move(failure);
}

void VirtualSerialPort::PullOutAfter(VirtualClock::Micros delay, int number) {
  clock_.ScheduleAfter(delay, [this, number] {
    OpenFailure missing;
    missing.cause = OpenFailure::Cause::Missing;
    missing.device = "COM" + std::to_string(number);
    unavailable_[number] = missing;
    if (!open_ || selected_ != number) return;
    Close();
    if (lostHandler_) lostHandler_();
  });
}

ScriptedDialogs::Answer ScriptedDialogs::Next(Kind kind, const std::string& text,
                                              const std::string& title) {
  shown_.push_back({kind, text, title});
  if (script_.empty() || script_.front().kind != kind)
    throw UnexpectedDialog("unexpected dialog: \"" + text + "\"");
  Answer answer = script_.front();
  script_.pop_front();
  return answer;
}

void ScriptedDialogs::Information(const std::string& text, const std::string& title) {
  Next(Kind::Information, text, title);
}

bool ScriptedDialogs::Question(const std::string& text, const std::string& title) {
  return Next(Kind::Question, text, title).yes;
}

std::string ScriptedDialogs::OpenFile(const FileDialogRequest& request) {
  return Next(Kind::OpenFile, request.title, {}).path;
}

std::string ScriptedDialogs::SaveFile(const FileDialogRequest& request) {
  return Next(Kind::SaveFile, request.title, {}).path;
}

std::string MemorySettingsStore::Read(const std::string& application, const std::string& section,
                                      const std::string& key, const std::string& defaultValue) {
  const auto it = values_.find({application, section, key});
  return it == values_.end() ? defaultValue : it->second;
}

void MemorySettingsStore::Write(const std::string& application, const std::string& section,
                                const std::string& key, const std::string& value) {
  if (refuseChanges) return;
  values_[{application, section, key}] = value;
  ++writes_;
}

std::optional<std::string> MemorySettingsStore::Update(const std::string& application,
                                                       const std::string& section,
                                                       const std::string& key,
                                                       const Change& change) {
  if (refuseChanges) return std::nullopt;
  const auto it = values_.find({application, section, key});
  std::string value = change(it == values_.end() ? std::string() : it->second);
  if (it == values_.end() || it->second != value) Write(application, section, key, value);
  return value;
}

bool MemorySettingsStore::Has(const std::string& application, const std::string& section,
                              const std::string& key) const {
  return values_.count({application, section, key}) != 0;
}

namespace {

// A number with its leading zeros or without is one number.
std::string Significant(const std::string& number) {
  return number.substr(std::min(number.find_first_not_of('0'), number.size()));
}

// The one database, reached through each station's own handle.
class MemoryLineHandle : public LineDatabase {
 public:
  explicit MemoryLineHandle(MemoryLineDatabase& database) : database_(database) {}
  std::optional<LineState> Read(const std::string& line) override { return database_.Read(line); }
  std::optional<SerialPool> ChangePool(const std::string& line, const LineStation& who,
                                       const PoolChange& change) override {
    return database_.ChangePool(line, who, change);
  }
  std::optional<std::int64_t> ChangeCount(const std::string& line,
                                          const CountChange& change) override {
    return database_.ChangeCount(line, change);
  }
  std::optional<LineState> AddRecord(const std::string& line, LineRecord& record) override {
    return database_.AddRecord(line, record);
  }
  std::string LastError() const override { return database_.LastError(); }

 private:
  MemoryLineDatabase& database_;
};

}  // namespace

bool MemoryLineDatabase::Down() {
  error_ = down ? "could not connect to server: Connection refused" : "";
  return down;
}

std::optional<LineState> MemoryLineDatabase::Read(const std::string& line) {
  if (Down()) return std::nullopt;
  const auto it = lines.find(line);
  return it == lines.end() ? LineState{} : it->second;
}

std::optional<SerialPool> MemoryLineDatabase::ChangePool(const std::string& line,
                                                         const LineStation& who,
                                                         const PoolChange& change) {
  if (Down()) return std::nullopt;
  LineState& state = lines[line];
  std::string number;
  SerialPool pool = change(state.pool, number);
  for (const Spent& old : spent)
    if (!number.empty() && old.line == line && Significant(old.number) == Significant(number)) {
      error_ = "duplicate key value violates unique constraint \"kvr_serials_once\"";
      return std::nullopt;
    }
  if (!number.empty()) spent.push_back({line, number, who});
  state.pool = pool;
  return pool;
}

std::optional<std::int64_t> MemoryLineDatabase::ChangeCount(const std::string& line,
                                                            const CountChange& change) {
  if (Down()) return std::nullopt;
  LineState& state = lines[line];
  state.goodCount = change(state.goodCount);
  return state.goodCount;
}

std::optional<LineState> MemoryLineDatabase::AddRecord(const std::string& line,
                                                       LineRecord& record) {
  if (Down()) return std::nullopt;
  if (refuseRecords) {
    error_ = "could not extend file: No space left on device";
    return std::nullopt;
  }
  LineState& state = lines[line];
  if (record.result == "OK") ++state.goodCount;
  record.goodCount = state.goodCount;
  records.push_back({line, record});
  return state;
}

std::unique_ptr<LineDatabase> MemoryLineDatabases::Open(const std::string& url,
                                                        std::string& error) {
  if (std::string problem = LineUrlProblem(url); !problem.empty()) {
    error = std::move(problem);
    return nullptr;
  }
  opened.push_back(url);
  return std::make_unique<MemoryLineHandle>(database);
}

}  // namespace kvr
