// The supervisor of a line, fed status lines, ends and the time by hand.

#include "gang/line_supervisor.h"

#include <gtest/gtest.h>

#include "cli/status_stream.h"

namespace kvr::gang {
namespace {

using namespace std::chrono_literals;

struct RecordingControl : StationControl {
  void Terminate(std::size_t writer) override {
    calls.push_back("terminate " + std::to_string(writer));
  }
  void Kill(std::size_t writer) override { calls.push_back("kill " + std::to_string(writer)); }
  std::vector<std::string> calls;
};

class LineSupervisorTest : public ::testing::Test {
 protected:
  LineSupervisorTest() : line({"COM1", "/dev/pts/7"}, control, Limits(), t0) {}
  static SupervisorLimits Limits() {
    SupervisorLimits limits;
    limits.hangAfter = 10s;
    limits.killAfter = 5s;
    return limits;
  }
  void Say(std::size_t writer, const std::string& event, const std::vector<std::string>& fields,
           std::chrono::milliseconds at = 0ms) {
    line.OnStatusLine(writer, status::Line(event, fields), t0 + at);
  }
  std::vector<std::string> Notices() {
    std::vector<std::string> texts;
    for (const Notice& notice : line.TakeNotices()) texts.push_back(notice.text);
    return texts;
  }

  TimePoint t0{};
  RecordingControl control;
  LineSupervisor line;
};

TEST_F(LineSupervisorTest, ChipsOfTwoWritersAreCountedAndToldOneLineEach) {
  Say(0, status::kStart, {"COM1 (/dev/ttyUSB0)"});
  EXPECT_FALSE(line.FirstChip());
  Say(0, status::kRun, {"1"}, 2s);
  Say(1, status::kRun, {"1"}, 3s);
  EXPECT_EQ(line.FirstChip(), t0 + 2s);  // the line's rate counts from here
  EXPECT_EQ(line.Rows()[0].state, WriterState::Connecting);
  Say(0, status::kStep, {"Program File"});
  Say(0, status::kProgress, {"2048", "4096"});
  const WriterRow& row = line.Rows()[0];
  EXPECT_EQ(row.state, WriterState::Working);
  EXPECT_EQ(row.step, "Program File");
  EXPECT_EQ(row.done, 2048);
  EXPECT_EQ(row.total, 4096);
  Say(0, status::kChip, {"1", "OK", "00000100", "", "7"});
  Say(0, status::kCountdown, {"3"});
  EXPECT_EQ(row.state, WriterState::Countdown);
  EXPECT_EQ(row.countdown, 3);
  Say(1, status::kStart, {"COM1 (/dev/pts/7)"});
  Say(1, status::kChip, {"1", "failed", "", "Verify Program", "7"});
  Say(1, status::kChip, {"2", "stopped", "", "Erase MCU", "7"});
  // An event this supervisor does not know is no reason to stumble.
  Say(1, "temperature", {"40"});

  EXPECT_EQ(Notices(), (std::vector<std::string>{"COM1: chip 1 OK, serial 00000100",
                                                 "/dev/pts/7: chip 1 failed at Verify Program",
                                                 "/dev/pts/7: chip 2 stopped at Erase MCU"}));
  EXPECT_EQ(row.good, 1);
  EXPECT_EQ(row.lastSerial, "00000100");
  EXPECT_EQ(line.Rows()[1].failed, 2);
  EXPECT_EQ(line.Good(), 1);
  EXPECT_EQ(line.Failed(), 2);
  EXPECT_TRUE(control.calls.empty());

  // Both end on their own (their count reached): done, whatever their chips came to.
  line.OnExit(0, {false, 0}, "", t0 + 1s);
  line.OnExit(1, {false, 1}, "", t0 + 1s);
  EXPECT_TRUE(line.Ended());
  EXPECT_EQ(line.Rows()[0].state, WriterState::Done);
  EXPECT_EQ(line.Rows()[1].state, WriterState::Done);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"COM1: done, 1 good, 0 failed",
                                                 "/dev/pts/7: done, 0 good, 2 failed"}));
  EXPECT_EQ(line.ExitCode(), 1);  // a chip failed
}

TEST_F(LineSupervisorTest, ALostPortTakesItsWriterOutAndTheOtherCarriesOn) {
  Say(0, status::kStart, {"COM1"});
  Say(1, status::kStart, {"COM1"});
  Say(0, status::kChip, {"4", "failed", "", "Program File", "3"});
  Say(0, status::kLost, {"4"});
  EXPECT_EQ(control.calls, std::vector<std::string>{"terminate 0"});
  EXPECT_EQ(line.Rows()[0].state, WriterState::Stopping);
  // What it still says while it stops does not bring it back.
  Say(0, status::kRun, {"5"});
  Say(0, status::kUnreached, {"5"});
  EXPECT_EQ(line.Rows()[0].state, WriterState::Stopping);
  EXPECT_EQ(control.calls.size(), 1U);
  line.OnExit(0, {false, 0}, "", t0 + 1s);
  Say(1, status::kChip, {"1", "OK", "", "", "4"}, 2s);
  line.OnExit(1, {false, 0}, "", t0 + 3s);

  EXPECT_EQ(line.Rows()[0].state, WriterState::Failed);
  EXPECT_EQ(line.Rows()[0].reason, "the port was lost");
  EXPECT_EQ(line.Rows()[1].state, WriterState::Done);
  EXPECT_EQ(Notices(), (std::vector<std::string>{
                           "COM1: chip 1 failed at Program File",
                           "COM1: the port was lost: the writer leaves the line",
                           "COM1: run 5 did not reach the writer", "COM1: out, 0 good, 1 failed",
                           "/dev/pts/7: chip 1 OK", "/dev/pts/7: done, 1 good, 0 failed"}));
  EXPECT_EQ(line.ExitCode(), 1);
}

TEST_F(LineSupervisorTest, ThreeRunsInARowThatReachNoWriterTakeItOut) {
  Say(0, status::kUnreached, {"1"});
  Say(0, status::kUnreached, {"2"});
  Say(0, status::kChip, {"3", "OK", "", "", "1"});  // a chip in between starts the count again
  Say(0, status::kUnreached, {"4"});
  Say(0, status::kUnreached, {"5"});
  EXPECT_TRUE(control.calls.empty());
  Say(0, status::kUnreached, {"6"});
  EXPECT_EQ(control.calls, std::vector<std::string>{"terminate 0"});
  EXPECT_EQ(line.Rows()[0].reason, "no writer reached in 3 runs");
}

TEST_F(LineSupervisorTest, ASilentStationIsHungThenKilled) {
  Say(0, status::kStart, {"COM1"}, 1s);
  Say(1, status::kStart, {"COM1"}, 4s);
  // The next decision: writer 0's hang, 10 s after it was last heard.
  ASSERT_TRUE(line.NextDeadline());
  EXPECT_EQ(*line.NextDeadline(), t0 + 11s);
  line.OnTick(t0 + 10999ms);
  EXPECT_TRUE(control.calls.empty());
  line.OnTick(t0 + 11s);
  EXPECT_EQ(control.calls, std::vector<std::string>{"terminate 0"});
  EXPECT_EQ(*line.NextDeadline(), t0 + 14s);  // writer 1's hang comes before the kill
  Say(1, status::kCountdown, {"2"}, 12s);
  line.OnTick(t0 + 15999ms);
  EXPECT_EQ(control.calls.size(), 1U);
  line.OnTick(t0 + 16s);
  EXPECT_EQ(control.calls, (std::vector<std::string>{"terminate 0", "kill 0"}));
  // Nothing more to decide for it until its end is seen; nothing is asked twice.
  EXPECT_EQ(*line.NextDeadline(), t0 + 22s);
  line.OnTick(t0 + 21s);
  EXPECT_EQ(control.calls.size(), 2U);
  line.OnExit(0, {true, 9}, "", t0 + 21s);
  EXPECT_EQ(line.Rows()[0].state, WriterState::Failed);
  EXPECT_EQ(line.Rows()[0].reason, "no word from its station for 10 s: hung");
  EXPECT_EQ(Notices(),
            (std::vector<std::string>{
                "COM1: no word from its station for 10 s: hung: the writer leaves the line",
                "COM1: its station did not end when told: killed", "COM1: out, 0 good, 0 failed"}));
}

TEST_F(LineSupervisorTest, StopAllStopsEveryStationOnceAndKillsOnlyTheOneThatStaysOn) {
  Say(0, status::kChip, {"1", "OK", "7", "", "1"});
  Say(1, status::kChip, {"1", "OK", "8", "", "2"});
  line.StopAll(t0 + 1s);
  line.StopAll(t0 + 2s);
  EXPECT_TRUE(line.Stopping());
  EXPECT_EQ(control.calls, (std::vector<std::string>{"terminate 0", "terminate 1"}));
  EXPECT_EQ(line.Rows()[0].state, WriterState::Stopping);
  line.OnExit(0, {false, 0}, "", t0 + 2s);
  line.OnTick(t0 + 6s);
  EXPECT_EQ(control.calls.back(), "kill 1");
  line.OnExit(1, {true, 9}, "", t0 + 6s);
  EXPECT_EQ(line.Rows()[0].state, WriterState::Stopped);
  EXPECT_EQ(line.Rows()[1].state, WriterState::Failed);
  EXPECT_EQ(line.Rows()[1].reason, "did not stop when told: killed");
  EXPECT_EQ(line.ExitCode(), 1);
}

TEST_F(LineSupervisorTest, AStopBetweenGoodChipsEndsTheLineWell) {
  Say(0, status::kStart, {"COM1"});
  Say(1, status::kStart, {"COM1"});
  Say(0, status::kChip, {"1", "OK", "", "", "1"});
  Say(1, status::kChip, {"1", "OK", "", "", "2"});
  line.StopAll(t0 + 1s);
  line.OnExit(0, {false, 0}, "", t0 + 2s);
  line.OnExit(1, {false, 0}, "", t0 + 2s);
  EXPECT_EQ(line.Rows()[1].state, WriterState::Stopped);
  EXPECT_FALSE(line.NextDeadline());
  EXPECT_EQ(line.ExitCode(), 0);
}

TEST_F(LineSupervisorTest, AStationThatEndsOnItsOwnBadlyIsOutWithItsLastWords) {
  // Ended before it ever started: its options, most likely.
  line.OnExit(0, {false, 2}, "kvr-cli: cannot open \"x.hex\": no such file", t0 + 1s);
  Say(1, status::kStart, {"COM1"});
  line.OnExit(1, {true, 11}, "", t0 + 2s);
  EXPECT_EQ(line.Rows()[0].reason,
            "its station did not start (status 2) (kvr-cli: cannot open \"x.hex\": no such file)");
  EXPECT_EQ(line.Rows()[1].reason, "its station ended by signal 11");
  EXPECT_EQ(Notices(),
            (std::vector<std::string>{"COM1: its station did not start (status 2) (kvr-cli: cannot "
                                      "open \"x.hex\": no such file): out of the line",
                                      "COM1: out, 0 good, 0 failed",
                                      "/dev/pts/7: its station ended by signal 11: out of the line",
                                      "/dev/pts/7: out, 0 good, 0 failed"}));
  EXPECT_TRUE(control.calls.empty());
  EXPECT_EQ(line.ExitCode(), 1);
}

}  // namespace
}  // namespace kvr::gang
