#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/virtual/virtual_clock.h"

namespace kvr {

// A wait that could never end: the test scenario left the station waiting for nothing.
class VirtualDeadlock : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class VirtualEventPump : public EventPump {
 public:
  explicit VirtualEventPump(VirtualClock& clock) : clock_(clock) {}
  void WaitForEvents() override;
  void ProcessPendingEvents() override;
  // Called before every wait, as a window would draw the station's state.
  void SetIdleHook(std::function<void()> hook) { idleHook_ = std::move(hook); }
  // A scenario that handles more events than this is taken to be stuck in a loop.
  void SetEventBudget(std::uint64_t events) { budget_ = events; }

 private:
  VirtualClock& clock_;
  std::function<void()> idleHook_;
  std::uint64_t budget_ = 20'000'000;
};

class VirtualTimer : public Timer {
 public:
  explicit VirtualTimer(VirtualClock& clock) : clock_(clock) {}
  ~VirtualTimer() override;
  void SetInterval(int milliseconds) override;
  int Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void SetTickHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  void Arm();
  void Tick();

  VirtualClock& clock_;
  std::function<void()> handler_;
  int interval_ = 0;
  bool enabled_ = false;
  VirtualClock::EventId pending_ = 0;
};

class VirtualTimerFactory : public TimerFactory {
 public:
  explicit VirtualTimerFactory(VirtualClock& clock) : clock_(clock) {}
  std::unique_ptr<Timer> CreateTimer() override { return std::make_unique<VirtualTimer>(clock_); }

 private:
  VirtualClock& clock_;
};

// A serial port whose far end is the test: what the station writes goes to `onWrite` (usually a
// simulated writer), and bytes are delivered back at chosen virtual times.
class VirtualSerialPort : public SerialPort {
 public:
  explicit VirtualSerialPort(VirtualClock& clock) : clock_(clock) {}

  bool SelectPort(int number) override;
  bool SetParameters(int baud) override;
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  bool ClearInput() override;
  bool ClearOutput() override;
  std::size_t BytesWaiting() const override { return inbox_.size(); }
  Bytes ReadAll() override;
  bool Write(const Bytes& bytes) override;
  void SetDataReceivedHandler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }
  OpenFailure LastOpenFailure() const override { return lastFailure_; }
  void SetLostHandler(std::function<void()> handler) override { lostHandler_ = std::move(handler); }

  // Test side.
  std::function<void(const Bytes&)> onWrite;
  // A driver that hands out at most this many bytes a read, 0 for all that are waiting.
  std::size_t readLimit = 0;
  // Bytes arrive from the far end after `delay`; bytes arriving at a closed port are lost.
  void DeliverAfter(VirtualClock::Micros delay, Bytes bytes);
  // Ports that cannot be opened (missing or held by another program), for no known reason.
  void SetUnavailable(int number, bool unavailable = true);
  // A port that cannot be opened for this reason.
  void SetOpenFailure(int number, OpenFailure failure);
  // The adapter of port `number` is pulled out after `delay`: the port is lost if it is open
  // then, and it cannot be opened (missing) until it is plugged in again.
  void PullOutAfter(VirtualClock::Micros delay, int number);
  void PlugIn(int number) { SetUnavailable(number, false); }
  // Every write that reached the line, in order.
  const std::vector<Bytes>& Written() const { return written_; }
  void ClearWritten() { written_.clear(); }
  int SelectedPort() const { return selected_; }
  int Baud() const { return baud_; }
  int OpenCount() const { return openCount_; }

 private:
  VirtualClock& clock_;
  std::function<void()> handler_;
  Bytes inbox_;
  std::vector<Bytes> written_;
  std::function<void()> lostHandler_;
  std::map<int, OpenFailure> unavailable_;
  OpenFailure lastFailure_;
  int selected_ = 0;
  int baud_ = 0;
  int openCount_ = 0;
  bool open_ = false;
};

// A message box or file dialog nobody scripted: the test fails.
class UnexpectedDialog : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class ScriptedDialogs : public Dialogs {
 public:
  enum class Kind { Information, Question, OpenFile, SaveFile };
  struct Shown {
    Kind kind;
    std::string text;
    std::string title;
  };

  void ExpectInformation() { script_.push_back({Kind::Information, false, {}}); }
  void ExpectQuestion(bool answerYes) { script_.push_back({Kind::Question, answerYes, {}}); }
  void ExpectOpenFile(std::string path) { script_.push_back({Kind::OpenFile, false, path}); }
  void ExpectSaveFile(std::string path) { script_.push_back({Kind::SaveFile, false, path}); }

  void Information(const std::string& text, const std::string& title) override;
  bool Question(const std::string& text, const std::string& title) override;
  std::string OpenFile(const FileDialogRequest& request) override;
  std::string SaveFile(const FileDialogRequest& request) override;

  const std::vector<Shown>& ShownDialogs() const { return shown_; }
  std::size_t Unanswered() const { return script_.size(); }

 private:
  struct Answer {
    Kind kind;
    bool yes;
    std::string path;
  };
  Answer Next(Kind kind, const std::string& text, const std::string& title);

  std::deque<Answer> script_;
  std::vector<Shown> shown_;
};

class MemorySettingsStore : public SettingsStore {
 public:
  std::string Read(const std::string& application, const std::string& section,
                   const std::string& key, const std::string& defaultValue) override;
  void Write(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;
  std::optional<std::string> Update(const std::string& application, const std::string& section,
                                    const std::string& key, const Change& change) override;
  std::string Problem(const std::string&) override { return problem; }
  std::string LastError() const override { return refuseChanges ? "No space left on device" : ""; }
  bool Has(const std::string& application, const std::string& section,
           const std::string& key) const;
  int Writes() const { return writes_; }
  // A store that takes no changes, as a full disk or a read-only file would.
  bool refuseChanges = false;
  // Why the store cannot be used at all, as a file that is a folder would say.
  std::string problem;

 private:
  std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
  int writes_ = 0;
};

// A line database in memory, shared by the stations of a test: each call is one transaction,
// and nothing comes between.
class MemoryLineDatabase : public LineDatabase {
 public:
  std::optional<LineState> Read(const std::string& line) override;
  std::optional<SerialPool> ChangePool(const std::string& line, const LineStation& who,
                                       const PoolChange& change) override;
  std::optional<std::int64_t> ChangeCount(const std::string& line,
                                          const CountChange& change) override;
  std::optional<LineState> AddRecord(const std::string& line, LineRecord& record) override;
  std::string LastError() const override { return error_; }

  // Every call refused, as a server that went down refuses.
  bool down = false;
  // Records refused (and so the counts that go with them).
  bool refuseRecords = false;
  std::map<std::string, LineState> lines;
  struct Chip {
    std::string line;
    LineRecord record;
  };
  std::vector<Chip> records;
  struct Spent {
    std::string line;
    std::string number;
    LineStation by;
  };
  std::vector<Spent> spent;

 private:
  bool Down();
  std::string error_;
};

// Every URL a line database can have opens the one database in memory.
class MemoryLineDatabases : public LineDatabases {
 public:
  std::unique_ptr<LineDatabase> Open(const std::string& url, std::string& error) override;
  MemoryLineDatabase database;
  std::vector<std::string> opened;
};

class BeepCounter : public Beeper {
 public:
  explicit BeepCounter(VirtualClock& clock) : clock_(clock) {}
  void Beep() override { times_.push_back(clock_.Now()); }
  int Count() const { return static_cast<int>(times_.size()); }
  const std::vector<VirtualClock::Micros>& Times() const { return times_; }

 private:
  VirtualClock& clock_;
  std::vector<VirtualClock::Micros> times_;
};

// Wall-clock time on the virtual clock: the epoch is a fixed moment, the offset settable.
class VirtualWallClock : public WallClock {
 public:
  // 2026-01-05T08:00:00Z, a Monday morning.
  static constexpr std::int64_t kEpochStart = 1'767'600'000'000'000;

  explicit VirtualWallClock(VirtualClock& clock) : clock_(clock) {}
  std::int64_t EpochMicros() override { return kEpochStart + clock_.Now(); }
  int UtcOffsetMinutes(std::int64_t) override { return offsetMinutes; }
  std::int64_t MonotonicMicros() override { return clock_.Now(); }
  int offsetMinutes = 60;

 private:
  VirtualClock& clock_;
};

// The whole virtual platform in one object.
struct VirtualPlatform {
  VirtualClock clock;
  VirtualEventPump pump{clock};
  VirtualTimerFactory timers{clock};
  VirtualSerialPort port{clock};
  ScriptedDialogs dialogs;
  MemorySettingsStore settings;
  BeepCounter beeper{clock};
  VirtualWallClock wallClock{clock};
  MemoryLineDatabases lineDatabases;
  Platform platform{port, pump, timers, dialogs, settings, beeper, &wallClock, &lineDatabases};
};

}  // namespace kvr
