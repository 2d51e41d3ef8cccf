// Ten thousand automatic runs with the serial-number stamp on, each against a writer that fails
// in one of the ways it can: at random, on its n-th reply or write or read, with a blank check
// that never answers, by going dead, or by its adapter being pulled out mid-run. Every run ends
// in time, no bad chip is called good, and the count and the serial number move exactly as the
// rule says: the number is spent when programming begins, the count rises once per good chip.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <set>

#include "app/station_fixture.h"
#include "image/serial_number.h"
#include "operations/option_bytes.h"

namespace kvr {
namespace {

constexpr int kRuns = 10'000;
constexpr std::int32_t kImageEnd = 0xFF;  // two chunks
constexpr std::int32_t kSerialAddress = 0xFF;
constexpr int kSerialBytes = 3;
// The longest legal run: every handshake attempt, every block and read retry on their reply
// time-outs, and the blank check's whole wait, of this two-chunk sequence stay well inside it.
constexpr double kRunBudgetMs = 60'000;

enum class FaultClass {
  None,
  Random,
  DropNth,
  CorruptNth,
  LoseWriteNth,
  FlipReadNth,
  NoBlankResult,
  DeadAfter,
  PulledOut,
  kCount
};
constexpr std::array<const char*, static_cast<std::size_t>(FaultClass::kCount)> kClassNames = {
    "none",           "random faults",   "drop n-th",  "corrupt n-th", "lose n-th write",
    "flip n-th read", "no blank result", "dead after", "pulled out"};

std::string StoredNext(VirtualPlatform& vp) {
  return vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", "");
}
std::string StoredCount(VirtualPlatform& vp) {
  return vp.settings.Read(Station::kApplication, "Settings", "Write_OK_Count", "");
}

bool IsWrite(const Bytes& frame) {
  return frame.size() >= 12 && frame[0] == 0x6A && (frame[3] == 0x03 || frame[3] == 0x04);
}

TEST(FaultSoak, TenThousandRunsWithEveryFaultKeepChipsCountAndNumbersRight) {
  VirtualPlatform vp;
  std::unique_ptr<sim::WriterSimulator> writer;
  vp.port.onWrite = [&](const Bytes& bytes) {
    for (auto& transmission : writer->Receive(bytes.data(), bytes.size(), vp.clock.Now()))
      vp.port.DeliverAfter(transmission.delayUs, std::move(transmission.bytes));
  };
  Station station(vp.platform);
  station.DeferredSave();
  station.OnBeepClick(false);

  Bytes image(kImageEnd + 1);
  for (int a = 0; a <= kImageEnd; ++a) {
    image[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(a * 41 + 3);
    station.ImageBuffer.Set(a, image[static_cast<std::size_t>(a)]);
  }
  station.FileLoaded = true;
  station.ProgramStart = 0;
  station.ProgramEnd = station.DataEnd = kImageEnd;
  station.texAuto_Increase = {TextBox{"00FF"}, TextBox{"3"}, TextBox{"1"}, TextBox{"1"}};
  station.optAuto_Increase.selected = 1;  // packed BCD
  station.OnSerialFieldChange();
  station.cheAuto_Increase.checked = true;
  station.OnAutoIncreaseClick();
  ASSERT_TRUE(station.SerialActive);
  for (const char* step :
       {"Erase MCU", "Check MCU Empty", "Program File", "Verify Program", "Program Option"}) {
    for (int i = 0; i < Station::kFirstSequenceSlot; ++i)
      if (station.txtAuto[static_cast<std::size_t>(i)].text == step) station.OnAutoSlotClick(i);
    station.EditAutoSequence(0);
  }
  station.OnFunctionClick(0);

  std::mt19937 random(20260105);
  std::array<int, static_cast<std::size_t>(FaultClass::kCount)> runs{}, goods{};
  sim::FaultRecord injected;
  std::set<std::string> goodNumbers;
  int good = 0, spentByFailures = 0;
  double longestMs = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto kind = static_cast<FaultClass>(random() % static_cast<int>(FaultClass::kCount));
    sim::WriterConfig config;
    config.versionByte = run % 2 == 0 ? 0x13 : 0x12;  // page sums, or reading back
    config.seed = static_cast<std::uint64_t>(run) + 1;
    switch (kind) {
      case FaultClass::Random:
        config.randomFaultRate = 0.01 + 0.01 * static_cast<double>(random() % 8);
        break;
      case FaultClass::DropNth:
        config.dropNth = 1 + random() % 16;
        break;
      case FaultClass::CorruptNth:
        config.corruptNth = 1 + random() % 16;
        break;
      case FaultClass::LoseWriteNth:
        config.loseWriteNth = 1 + random() % 2;
        break;
      case FaultClass::FlipReadNth:
        config.flipReadNth = 1 + random() % 4;
        break;
      case FaultClass::NoBlankResult:
        config.blankResult = false;
        break;
      case FaultClass::DeadAfter:
        config.deadAfter = random() % 16;
        break;
      default:
        break;
    }
    writer = std::make_unique<sim::WriterSimulator>(config);
    // Now and then a chip that is not blank, so the empty check has work to do.
    if (random() % 8 == 0) writer->Chip().Load(0x40, Bytes{0x00});
    for (std::size_t row = 0; row < OptionPanelControls::kRows; ++row)
      station.Option[row].selected = static_cast<int>(random() % 2);
    std::optional<VirtualClock::EventId> pullOut;
    if (kind == FaultClass::PulledOut)
      pullOut = vp.clock.ScheduleAfter(static_cast<VirtualClock::Micros>(random() % 120'000),
                                       [&vp] { vp.port.PullOutAfter(0, 1); });

    const std::string nextBefore = StoredNext(vp);
    const std::int64_t countBefore = ReadNumber(StoredCount(vp));
    const double started = vp.clock.NowMs();
    station.OnProgramClick();
    const double tookMs = vp.clock.NowMs() - started;
    longestMs = std::max(longestMs, tookMs);
    ASSERT_LT(tookMs, kRunBudgetMs) << "run " << run << " (" << kClassNames[int(kind)] << ")";
    ASSERT_FALSE(station.RunInProgress());
    if (pullOut) vp.clock.Cancel(*pullOut);
    vp.port.PlugIn(1);
    // Replies still under way belong to this chip, not to the next one.
    while (vp.clock.HasPending()) vp.clock.RunNext();

    const bool goodRun = station.LastRun.result == 0;
    bool wrote = false;
    for (const Bytes& frame : writer->ReceivedFrames()) wrote = wrote || IsWrite(frame);
    const std::string nextAfter = StoredNext(vp);
    const bool spent = nextAfter != nextBefore;
    const std::string context = "run " + std::to_string(run) + " (" + kClassNames[int(kind)] + ")";
    if (spent) {
      ASSERT_EQ(nextAfter, FitDigits(AddToNumber(nextBefore, 1), kSerialBytes * 2)) << context;
    }
    // Spent exactly when programming began: written, or cut off by the pulled adapter.
    ASSERT_TRUE(wrote ? spent : !spent || station.LastRun.portLost) << context;
    ASSERT_EQ(ReadNumber(StoredCount(vp)), countBefore + (goodRun ? 1 : 0)) << context;
    ASSERT_EQ(station.txtWrite_OK_Count.text, StoredCount(vp)) << context;
    ASSERT_EQ(station.texAuto_Increase[2].text, nextAfter) << context;
    runs[static_cast<std::size_t>(kind)] += 1;
    for (std::size_t k = 0; k < sim::kFaultKinds; ++k)
      injected.counts[k] += writer->InjectedFaults().counts[k];
    if (!goodRun) {
      spentByFailures += spent ? 1 : 0;
      continue;
    }

    ASSERT_TRUE(spent) << context;
    ASSERT_TRUE(goodNumbers.insert(nextBefore).second) << context << ": number used twice";
    Bytes expected = image;
    const SerialEncoding stamp = EncodeSerial(nextBefore, SerialMode::PackedBcd, kSerialBytes);
    for (std::size_t i = 0; i < stamp.bytes.size(); ++i)
      expected[static_cast<std::size_t>(kSerialAddress) - i] = stamp.bytes[i];
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), writer->Flash().begin()))
        << context << " called a bad chip good";
    const OptionPayload options =
        OptionBytesFromPanel(station, station.SelectedDevice.DeviceClassCode);
    ASSERT_EQ(writer->Chip().Or0(), options[0]) << context;
    ASSERT_EQ(writer->Chip().Or1(), options[1]) << context;
    goods[static_cast<std::size_t>(kind)] += 1;
    ++good;
  }

  std::printf(
      "fault soak: %d runs, %d good, %d failed (%d of them after their number was spent), "
      "longest run %.0f ms\n",
      kRuns, good, kRuns - good, spentByFailures, longestMs);
  for (std::size_t c = 0; c < runs.size(); ++c)
    std::printf("  %-16s %5d runs, %5d good\n", kClassNames[c], runs[c], goods[c]);
  std::printf("  faults injected:\n");
  for (std::size_t k = 1; k < sim::kFaultKinds; ++k)
    std::printf("    %-16s %llu\n", sim::FaultName(static_cast<sim::Fault>(k)),
                static_cast<unsigned long long>(injected.counts[k]));
  for (std::size_t c = 0; c < runs.size(); ++c) EXPECT_GT(runs[c], 0) << kClassNames[c];
  EXPECT_GT(good, kRuns / 4);
  EXPECT_EQ(static_cast<int>(goodNumbers.size()), good);
}

}  // namespace
}  // namespace kvr
