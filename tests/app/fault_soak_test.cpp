// Automatic runs with the serial-number stamp on, and data EEPROM reads, each against a writer
// that fails in one of the ways it can: at random, on its n-th reply or write or read, with a
// blank check that never answers or acknowledges twice, by going dead, by answering late, twice,
// for another address or one request behind, by streaming text without end, or by its adapter
// being pulled out mid-run. Every run ends in time, no bad chip is called good, no "Read EEPROM
// OK!" holds other bytes than the chip, and the count and the serial number move exactly as the
// rule says: the number is spent when programming begins, the count rises once per good chip.
//
// KVR_FAULT_SOAK_RUNS sets the number of runs (by hand: 10000); the suite runs fewer.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>

#include "app/station_fixture.h"
#include "image/serial_number.h"
#include "operations/option_bytes.h"

namespace kvr {
namespace {

constexpr int kSuiteRuns = 1000;
constexpr std::int32_t kImageEnd = 0xFF;  // two chunks
constexpr std::int32_t kSerialAddress = 0xFF;
constexpr int kSerialBytes = 3;
constexpr std::int32_t kEepromEnd = 0xFFFF;
// The longest legal runs stay inside these: every handshake attempt, every block and read retry
// to its deadline and every blank-check pass's whole wait of this two-chunk sequence; and a 64 KB
// read whose 512 reads each need five attempts of 713 ms (a writer one request behind needs two).
constexpr double kRunBudgetMs = 120'000;
constexpr double kEepromBudgetMs = 512 * 5 * 713 + 60'000;

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
  LateNth,
  DuplicateNth,
  WrongAddressNth,
  Behind,
  Streaming,
  BlankAckTwice,
  kCount
};
constexpr std::array<const char*, static_cast<std::size_t>(FaultClass::kCount)> kClassNames = {
    "none",           "random faults",   "drop n-th",  "corrupt n-th", "lose n-th write",
    "flip n-th read", "no blank result", "dead after", "pulled out",   "late n-th",
    "twice n-th",     "wrong address",   "one behind", "streaming",    "blank ack twice"};

int SoakRuns() {
  const char* runs = std::getenv("KVR_FAULT_SOAK_RUNS");
  const int n = runs != nullptr ? std::atoi(runs) : 0;
  return n > 0 ? n : kSuiteRuns;
}

std::string StoredNext(VirtualPlatform& vp) {
  return vp.settings.Read(Station::kApplication, "Auto_Increase", "next_value", "");
}
std::string StoredCount(VirtualPlatform& vp) {
  return vp.settings.Read(Station::kApplication, "Settings", "Write_OK_Count", "");
}

bool IsWrite(const Bytes& frame) {
  return frame.size() >= 12 && frame[0] == 0x6A && (frame[3] == 0x03 || frame[3] == 0x04);
}

// The writer of one run: a fault of the class, with a random n-th where it needs one.
sim::WriterConfig WriterWith(FaultClass kind, int run, std::mt19937& random) {
  sim::WriterConfig config;
  config.versionByte = run % 2 == 0 ? 0x13 : 0x12;  // page sums, or reading back
  config.seed = static_cast<std::uint64_t>(run) + 1;
  // Now and then the six-byte write acknowledge, which names no page.
  if (random() % 4 == 0) config.writeAck = sim::WriteAck::Short;
  const auto nth = [&random](unsigned range) { return 1 + random() % range; };
  // A third of the chips lose a write besides: only the verification can tell them, while the
  // fault works against it.
  if (random() % 3 == 0) config.loseWriteNth = nth(2);
  switch (kind) {
    case FaultClass::Random:
      config.randomFaultRate = 0.01 + 0.01 * static_cast<double>(random() % 8);
      break;
    case FaultClass::DropNth:
      config.dropNth = nth(16);
      break;
    case FaultClass::CorruptNth:
      config.corruptNth = nth(16);
      break;
    case FaultClass::LoseWriteNth:
      config.loseWriteNth = nth(2);
      break;
    case FaultClass::FlipReadNth:
      config.flipReadNth = nth(4);
      break;
    case FaultClass::NoBlankResult:
      config.blankResult = false;
      break;
    case FaultClass::DeadAfter:
      config.deadAfter = random() % 16;
      break;
    case FaultClass::LateNth:
      config.lateNth = nth(24);
      config.lateUs = 750'000 + static_cast<std::int64_t>(random() % 4) * 250'000;
      break;
    case FaultClass::DuplicateNth:
      config.duplicateNth = nth(24);
      config.duplicateGapUs = static_cast<std::int64_t>(random() % 3) * 150;
      break;
    case FaultClass::WrongAddressNth:
      config.wrongAddressNth = nth(4);
      break;
    case FaultClass::Behind:
      config.behindAfter = random() % 16;
      break;
    case FaultClass::Streaming:
      config.streamAfter = random() % 24;
      break;
    case FaultClass::BlankAckTwice:
      config.blankAckTwice = true;
      break;
    default:
      break;
  }
  return config;
}

TEST(FaultSoak, RunsWithEveryFaultKeepChipsReadsCountAndNumbersRight) {
  const int totalRuns = SoakRuns();
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
  // What a data EEPROM read overwrites, put back before the next automatic run.
  const auto buffer = std::make_unique<ImageBufferArray>(station.ImageBuffer);

  std::mt19937 random(20260105);
  std::array<int, static_cast<std::size_t>(FaultClass::kCount)> runs{}, goods{};
  sim::FaultRecord injected;
  std::set<std::string> goodNumbers;
  int good = 0, spentByFailures = 0, reads = 0, readsOk = 0, flippedReads = 0;
  double longestMs = 0, longestReadMs = 0;
  for (int run = 0; run < totalRuns; ++run) {
    const auto kind = static_cast<FaultClass>(random() % static_cast<int>(FaultClass::kCount));
    writer = std::make_unique<sim::WriterSimulator>(WriterWith(kind, run, random));
    // One run in five reads the data EEPROM of a chip full of data instead.
    const bool eepromRun = random() % 5 == 0;
    if (eepromRun) {
      Bytes content(kEepromEnd + 1);
      for (std::size_t a = 0; a < content.size(); ++a)
        content[a] = static_cast<std::uint8_t>((a >> 7) * 31 + a * 7 + static_cast<unsigned>(run));
      writer->Chip().Load(0, content);
    } else if (random() % 8 == 0) {
      // Now and then a chip that is not blank, so the empty check has work to do.
      writer->Chip().Load(0x40, Bytes{0x00});
    }
    for (std::size_t row = 0; row < OptionPanelControls::kRows; ++row)
      station.Option[row].selected = static_cast<int>(random() % 2);
    std::optional<VirtualClock::EventId> pullOut;
    if (kind == FaultClass::PulledOut)
      pullOut = vp.clock.ScheduleAfter(static_cast<VirtualClock::Micros>(random() % 120'000),
                                       [&vp] { vp.port.PullOutAfter(0, 1); });

    const std::string nextBefore = StoredNext(vp);
    const std::int64_t countBefore = ReadNumber(StoredCount(vp));
    const double started = vp.clock.NowMs();
    station.OnFunctionClick(eepromRun ? 8 : 0);
    station.OnProgramClick();
    const double tookMs = vp.clock.NowMs() - started;
    (eepromRun ? longestReadMs : longestMs) =
        std::max(eepromRun ? longestReadMs : longestMs, tookMs);
    const std::string context = "run " + std::to_string(run) + " (" + kClassNames[int(kind)] +
                                (eepromRun ? ", Read EEPROM)" : ")");
    ASSERT_LT(tookMs, eepromRun ? kEepromBudgetMs : kRunBudgetMs) << context;
    ASSERT_FALSE(station.RunInProgress()) << context;
    if (pullOut) vp.clock.Cancel(*pullOut);
    vp.port.PlugIn(1);
    // Replies still under way belong to this chip, not to the next one.
    while (vp.clock.HasPending()) vp.clock.RunNext();
    for (std::size_t k = 0; k < sim::kFaultKinds; ++k)
      injected.counts[k] += writer->InjectedFaults().counts[k];
    runs[static_cast<std::size_t>(kind)] += 1;

    if (eepromRun) {
      ++reads;
      ASSERT_EQ(StoredNext(vp), nextBefore) << context;
      ASSERT_EQ(ReadNumber(StoredCount(vp)), countBefore) << context;
      // A bit the writer flips in a reply with a good check value is its word against the
      // chip's: nothing on the line shows it. Those reads are counted, not compared.
      if (writer->InjectedFaults()[sim::Fault::BitFlipped] > 0) {
        ++flippedReads;
      } else if (station.textMsg.Contains("Read EEPROM OK!")) {
        const auto chip = writer->Chip().Read(0, kEepromEnd + 1);
        ASSERT_TRUE(chip);
        ASSERT_TRUE(std::equal(chip->begin(), chip->end(), station.ImageBuffer.Bytes().begin()))
            << context << ": \"Read EEPROM OK!\" with other bytes than the chip's";
        ++readsOk;
        goods[static_cast<std::size_t>(kind)] += 1;
      }
      // A failed read leaves no image to program: the test puts its own back.
      station.ImageBuffer = *buffer;
      station.FileLoaded = true;
      station.ProgramStart = 0;
      station.ProgramEnd = station.DataEnd = kImageEnd;
      continue;
    }

    const bool goodRun = station.LastRun.result == 0;
    bool wrote = false;
    for (const Bytes& frame : writer->ReceivedFrames()) wrote = wrote || IsWrite(frame);
    const std::string nextAfter = StoredNext(vp);
    const bool spent = nextAfter != nextBefore;
    if (spent) {
      ASSERT_EQ(nextAfter, FitDigits(AddToNumber(nextBefore, 1), kSerialBytes * 2)) << context;
    }
    // Spent exactly when programming began: written, or cut off by the pulled adapter.
    ASSERT_TRUE(wrote ? spent : !spent || station.LastRun.portLost) << context;
    ASSERT_EQ(ReadNumber(StoredCount(vp)), countBefore + (goodRun ? 1 : 0)) << context;
    ASSERT_EQ(station.txtWrite_OK_Count.text, StoredCount(vp)) << context;
    ASSERT_EQ(station.texAuto_Increase[2].text, nextAfter) << context;
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

  const int programmed = totalRuns - reads;
  std::printf(
      "fault soak: %d runs; %d automatic, %d good, %d failed (%d of them after their number was "
      "spent), the longest %.0f ms; %d data EEPROM reads, %d \"Read EEPROM OK!\" all matching "
      "the chip, %d with a bit the writer flipped not compared, the longest %.0f ms\n",
      totalRuns, programmed, good, programmed - good, spentByFailures, longestMs, reads, readsOk,
      flippedReads, longestReadMs);
  for (std::size_t c = 0; c < runs.size(); ++c)
    std::printf("  %-16s %5d runs, %5d good\n", kClassNames[c], runs[c], goods[c]);
  std::printf("  faults injected:\n");
  for (std::size_t k = 1; k < sim::kFaultKinds; ++k)
    std::printf("    %-16s %llu\n", sim::FaultName(static_cast<sim::Fault>(k)),
                static_cast<unsigned long long>(injected.counts[k]));
  for (std::size_t c = 0; c < runs.size(); ++c) EXPECT_GT(runs[c], 0) << kClassNames[c];
  EXPECT_GT(good, programmed / 4);
  EXPECT_GT(readsOk, reads / 4);
  EXPECT_EQ(static_cast<int>(goodNumbers.size()), good);
}

}  // namespace
}  // namespace kvr
