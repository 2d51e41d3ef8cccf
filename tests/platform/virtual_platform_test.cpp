#include <gtest/gtest.h>

#include "platform/virtual/virtual_platform.h"

namespace kvr {
namespace {

TEST(VirtualClock, RunsEventsInTimeThenScheduleOrder) {
  VirtualClock clock;
  std::string order;
  clock.ScheduleAt(2000, [&] { order += 'c'; });
  clock.ScheduleAt(1000, [&] { order += 'a'; });
  clock.ScheduleAt(1000, [&] { order += 'b'; });
  const auto cancelled = clock.ScheduleAt(1500, [&] { order += 'x'; });
  clock.Cancel(cancelled);
  while (clock.RunNext()) {
  }
  EXPECT_EQ(order, "abc");
  EXPECT_EQ(clock.Now(), 2000);
}

TEST(VirtualTimer, TicksUntilDisabledAndRestartsWhenEnabledAgain) {
  VirtualClock clock;
  VirtualTimer timer(clock);
  std::vector<VirtualClock::Micros> ticks;
  timer.SetTickHandler([&] {
    ticks.push_back(clock.Now());
    if (ticks.size() == 2) timer.SetEnabled(false);
  });
  timer.SetInterval(20);
  timer.SetEnabled(true);
  clock.ScheduleAt(10'000, [&] { timer.SetEnabled(true); });  // starts the interval afresh
  while (clock.RunNext()) {
  }
  EXPECT_EQ(ticks, (std::vector<VirtualClock::Micros>{30'000, 50'000}));
  EXPECT_FALSE(timer.Enabled());
}

TEST(VirtualEventPump, AWaitThatCanNeverEndFailsTheTest) {
  VirtualPlatform vp;
  EXPECT_THROW(vp.pump.WaitForEvents(), VirtualDeadlock);
}

TEST(VirtualSerialPort, BytesForAClosedPortAreLost) {
  VirtualPlatform vp;
  int events = 0;
  vp.port.SetDataReceivedHandler([&] { ++events; });
  vp.port.SelectPort(1);
  vp.port.DeliverAfter(1000, {1, 2});
  vp.clock.RunNext();
  EXPECT_EQ(events, 0);
  ASSERT_TRUE(vp.port.Open());
  EXPECT_FALSE(vp.port.Open());
  vp.port.DeliverAfter(1000, {0, 3});
  vp.clock.RunNext();
  EXPECT_EQ(events, 1);
  EXPECT_EQ(vp.port.ReadAll(), (Bytes{0, 3}));
  vp.port.Close();
  EXPECT_FALSE(vp.port.Write({1}));
  EXPECT_TRUE(vp.port.Written().empty());
}

TEST(ScriptedDialogs, AnUnscriptedBoxFailsTheTest) {
  ScriptedDialogs dialogs;
  dialogs.ExpectQuestion(true);
  EXPECT_TRUE(dialogs.Question("Go on?", {}));
  EXPECT_THROW(dialogs.Information("Done.", {}), UnexpectedDialog);
  dialogs.ExpectInformation();
  EXPECT_THROW(dialogs.Question("Again?", {}), UnexpectedDialog);
}

}  // namespace
}  // namespace kvr
