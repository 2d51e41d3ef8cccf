// Programming runs against a writer that fails at random: every run ends, and no run calls a
// chip good whose flash differs from the image.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "app/station_fixture.h"

namespace kvr {
namespace {

constexpr int kRuns = 1000;
constexpr std::int32_t kImageEnd = 0x7FF;
// No run may take longer: the longest legal run (every handshake attempt, every blank-check
// pass, every block retry) stays well inside it.
constexpr double kRunBudgetMs = 15 * 60 * 1000;

TEST(ProgrammingSoak, RandomFaultsNeverMakeABadChipGood) {
  VirtualPlatform vp;
  sim::WriterConfig config;
  config.randomFaultRate = 0.04;
  config.seed = 20261208;
  sim::WriterSimulator writer(config);
  ConnectSimulatedWriter(vp.port, vp.clock, writer);
  Station station(vp.platform);
  station.DeferredSave();
  station.OnBeepClick(false);

  for (int a = 0; a <= kImageEnd; ++a)
    station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a * 29 + 5));
  station.FileLoaded = true;
  station.ProgramStart = 0;
  station.ProgramEnd = station.DataEnd = kImageEnd;
  for (const char* step : {"Erase MCU", "Check MCU Empty", "Program File", "Verify Program"}) {
    for (int i = 0; i < Station::kFirstSequenceSlot; ++i)
      if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
    station.EditAutoSequence(0);
  }

  std::mt19937 random(7);
  int good = 0, failed = 0, singleGood = 0;
  auto flashMatches = [&] {
    for (int a = 0; a <= kImageEnd; ++a)
      if (writer.Flash()[static_cast<std::size_t>(a)] != station.ImageBuffer.Get(a)) return false;
    return true;
  };
  for (int run = 0; run < kRuns; ++run) {
    // Read-back and page-sum verification in turn: the version decides.
    writer.Config().versionByte = run % 2 == 0 ? 0x13 : 0x12;
    // A chip that is not blank now and then, so the empty check has work to do.
    if (random() % 8 == 0) writer.Chip().Load(0x40, std::vector<std::uint8_t>{0x00});
    const double started = vp.clock.NowMs();
    bool goodRun = false;
    if (run % 4 == 3) {
      // The single functions: "Program OK!" then "Checking OK!" must mean the chip is right.
      writer.Chip().Erase();
      station.OnFunctionClick(4);
      station.OnProgramClick();
      const bool programmed = station.textMsg.Contains("\r\nProgram OK!");
      station.OnFunctionClick(5);
      station.OnProgramClick();
      goodRun = programmed && station.textMsg.Contains("\r\nChecking OK!");
      singleGood += goodRun ? 1 : 0;
    } else {
      station.OnFunctionClick(0);
      station.OnProgramClick();
      goodRun = station.LastRun.result == 0;
    }
    ASSERT_LT(vp.clock.NowMs() - started, kRunBudgetMs) << "run " << run;
    ASSERT_FALSE(station.RunInProgress());
    if (goodRun) {
      ASSERT_TRUE(flashMatches()) << "run " << run << " called a bad chip good";
    }
    (goodRun ? good : failed) += 1;
  }
  std::printf("soak: %d runs, %d good (%d by the single functions), %d failed\n", kRuns, good,
              singleGood, failed);
  const sim::FaultRecord& faults = writer.InjectedFaults();
  for (std::size_t kind = 1; kind < sim::kFaultKinds; ++kind)
    std::printf("  %-16s %llu\n", sim::FaultName(static_cast<sim::Fault>(kind)),
                static_cast<unsigned long long>(faults.counts[kind]));
  EXPECT_GT(good, kRuns / 4);
  EXPECT_GT(failed, 0);
  EXPECT_EQ(station.txtWrite_OK_Count.text, std::to_string(good - singleGood));
}

}  // namespace
}  // namespace kvr
