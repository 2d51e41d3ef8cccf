// The ISP demo tab of the station: its controls and settings, and writing the demo once and chip
// after chip against the simulated writer on virtual time.

#include <gtest/gtest.h>

#include <numeric>

#include "app/start_options.h"
#include "app/station_fixture.h"
#include "cli/cli_options.h"

namespace kvr {
namespace {

constexpr std::int32_t kBase = 0xF800;  // VXA05H: IspEnd FBFF
constexpr const char* kTooLarge =
    "The file is too large: the ISP demo takes its last part, which is lost.\r\n\r\n"
    "Press OK to go on.";
constexpr const char* kPowerOnReset = "Shall the chip run the ISP demo after a power-on reset?";
constexpr const char* kConnected = "We are connecting...\r\nWriter Version : 1.3\r\n\r\n";
// A good run of the sequence Erase MCU, Program File.
const std::string kAutoOk = std::string(kConnected) + "Erase MCU" + std::string(15, ' ') +
                            " OK!\r\nProgram File" + std::string(13, ' ') +
                            " OK!\r\n\r\nAuto              OK!";

// Frames built here from their layout tables.
Bytes WithSum(Bytes frame) {
  frame.push_back(static_cast<std::uint8_t>(std::accumulate(frame.begin(), frame.end(), 0U)));
  frame.push_back(0x16);
  return frame;
}

Bytes OptionFrame(std::uint8_t or0, std::uint8_t or1) {
  Bytes frame{0x6A, 0x00, 0x16, 0x05, or0, or1};
  frame.resize(20, 0x00);
  return WithSum(frame);
}

class IspDemoStationTest : public StationTest {
 protected:
  IspDemoStationTest() {
    // The model box shows VXA05H (its number goes into the demo); the list chooses the row.
    station.OnTreeNodeClick("VXA05H");
    Choose("VXA05H");
    station.DeferredSave();
    for (int slot = 8; slot < 16; ++slot) station.txtAuto[slot].text.clear();
    station.txtAuto[8].text = "Erase MCU";
    station.txtAuto[9].text = "Program File";
  }
  void Choose(const std::string& name) {
    const auto& entries = station.combMcuModel.entries;
    station.combMcuModel.index =
        static_cast<int>(std::find(entries.begin(), entries.end(), name) - entries.begin());
    station.OnModelListClick();
  }
  std::vector<Bytes> FramesWithCode(std::uint8_t code) const {
    std::vector<Bytes> frames;
    for (const Bytes& frame : writer.ReceivedFrames()) {
      const std::size_t at = frame[0] == 0x46 ? 5 : 3;
      if (frame.size() > at && frame[at] == code) frames.push_back(frame);
    }
    return frames;
  }
  // The chip's ISP kilobyte holds what the station placed in the buffer.
  bool DemoOnChip() const {
    for (std::int32_t a = kBase; a <= 0xFBFF; ++a)
      if (writer.Flash()[static_cast<std::size_t>(a)] != station.ImageBuffer.Get(a)) return false;
    return true;
  }
  std::string Stored(const std::string& key) {
    return vp.settings.Read(Station::kApplication, "Settings", key, "<absent>");
  }
  std::string Log() const { return station.textMsg.Text(); }
};

TEST_F(IspDemoStationTest, ParametersShowTheBaudErrorAndSaveWithoutTheFitCheck) {
  EXPECT_EQ(station.comb_oscillate_frequency.text, "11.0592");
  EXPECT_EQ(station.comb_ISP_buad.Text(), "38400");
  EXPECT_EQ(station.Lab_BAUD_ERR.caption, " 0%") << "shown from the start";
  EXPECT_EQ(station.TabStrip2.tabs[0].caption, "ISP demo");

  station.OnCrystalChange("12");
  EXPECT_EQ(station.comb_oscillate_frequency.index, -1);
  station.OnIspBaudChange(2);  // 9600
  EXPECT_EQ(station.Lab_BAUD_ERR.caption, " .1602%");
  EXPECT_EQ(station.Lab_BAUD_ERR.backColour, 0x8000000FU);
  EXPECT_FALSE(station.FitCheckDue);
  EXPECT_TRUE(station.Timer3().Enabled());

  station.OnCrystalChange("4.0000");
  EXPECT_EQ(station.comb_oscillate_frequency.index, 0);
  station.OnIspBaudChange(8);  // 115200: N = 1
  EXPECT_EQ(station.BaudReload(), 1.0F);
  EXPECT_EQ(station.Lab_BAUD_ERR.backColour, 0xFFU);  // red
  EXPECT_EQ(station.Lab_BAUD_ERR.foreColour, 0x80000012U);
  // Not a number: the label stays as it was.
  station.OnCrystalChange("x");
  EXPECT_EQ(station.BaudReload(), 0.0F);
  EXPECT_EQ(station.Lab_BAUD_ERR.backColour, 0xFFU);
}

TEST_F(IspDemoStationTest, PinListsFollowTheirOptionsAlsoAfterALockedRun) {
  for (const ListControl& list : station.comb_ISP_DEMO_WDT) EXPECT_FALSE(list.enabled);
  for (const ListControl& list : station.comb_485_pin) EXPECT_FALSE(list.enabled);
  EXPECT_FALSE(station.opt_485_logic.enabled);
  EXPECT_FALSE(station.Lab__485_logic.enabled);

  station.OnIspDemoWdtClick(1);
  for (const ListControl& list : station.comb_ISP_DEMO_WDT) EXPECT_TRUE(list.enabled);
  station.On485PinClick(1);
  EXPECT_TRUE(station.comb_485_pin[1].enabled);
  EXPECT_TRUE(station.opt_485_logic.enabled);
  EXPECT_TRUE(station.Lab__485_logic.enabled);
  station.On485PinClick(0);
  EXPECT_FALSE(station.comb_485_pin[0].enabled);

  // Locked while the Program button's run goes on; afterwards the pin rules hold again.
  station.OnFunctionClick(1);  // Erase MCU
  At(1, [&] {
    EXPECT_FALSE(station.com_write_ISP_demo.enabled);
    EXPECT_FALSE(station.com_re_write_ISP_demo.enabled);
    EXPECT_FALSE(station.comb_oscillate_frequency.enabled);
    EXPECT_FALSE(station.comb_ISP_buad.enabled);
    EXPECT_FALSE(station.opt_ISP_DEMO_parity.enabled);
    EXPECT_FALSE(station.opt_ISP_DEMO_WDT.enabled);
    EXPECT_FALSE(station.comb_ISP_DEMO_WDT[0].enabled);
    EXPECT_FALSE(station.opt_485_pin.enabled);
    EXPECT_FALSE(station.Lab_BAUD_ERR.enabled);
    EXPECT_FALSE(station.Lab_ISP_DEMO_WDT.enabled);
    station.OnIspDemoWdtClick(0);
    station.OnCrystalChange("20");
  });
  station.OnProgramClick();
  EXPECT_EQ(station.opt_ISP_DEMO_WDT.selected, 1) << "no change while locked";
  EXPECT_EQ(station.comb_oscillate_frequency.text, "11.0592");
  EXPECT_TRUE(station.com_write_ISP_demo.enabled);
  EXPECT_TRUE(station.comb_ISP_DEMO_WDT[1].enabled);
  EXPECT_FALSE(station.comb_485_pin[0].enabled);
  EXPECT_FALSE(station.opt_485_logic.enabled);
}

TEST_F(IspDemoStationTest, SettingsRoundTrip) {
  station.DeferredSave();
  EXPECT_EQ(Stored("ISP_DEMO_oscillate_frequency"), "3");
  EXPECT_EQ(Stored("ISP_DEMO_ISP_buad"), "6");
  EXPECT_EQ(Stored("ISP_DEMO_WDT"), "True");
  EXPECT_EQ(Stored("ISP_DEMO_485_port_bit"), "1");

  station.OnCrystalChange("24.0000");
  station.OnIspBaudChange(3);
  station.OnIspDemoParityClick(1);
  station.OnIspDemoEraseDataClick(1);
  station.OnIspDemoWdtClick(1);
  station.OnIspDemoWdtPinChange(0, 3);
  station.OnIspDemoWdtPinChange(1, 7);
  station.On485PinClick(1);
  station.On485PinChange(0, 4);
  station.On485PinChange(1, 5);
  station.WaitMs(300);
  EXPECT_EQ(Stored("ISP_DEMO_parity"), "False");
  EXPECT_EQ(Stored("ISP_DEMO_have_485_pin"), "False");

  Station restarted(vp.platform);
  EXPECT_EQ(restarted.comb_oscillate_frequency.text, "24.0000");
  EXPECT_EQ(restarted.comb_ISP_buad.index, 3);
  EXPECT_EQ(restarted.opt_ISP_DEMO_parity.selected, 1);
  EXPECT_EQ(restarted.optISP_DEMO_erase_data.selected, 1);
  EXPECT_EQ(restarted.opt_ISP_DEMO_WDT.selected, 1);
  EXPECT_EQ(restarted.comb_ISP_DEMO_WDT[0].Text(), "P3");
  EXPECT_EQ(restarted.comb_ISP_DEMO_WDT[1].Text(), "7");
  EXPECT_TRUE(restarted.comb_ISP_DEMO_WDT[0].enabled) << "the pin rule runs at start-up";
  EXPECT_EQ(restarted.opt_485_pin.selected, 1);
  EXPECT_EQ(restarted.comb_485_pin[0].Text(), "P4");
  EXPECT_EQ(restarted.comb_485_pin[1].Text(), "5");

  // Typed text is kept as no entry; indexes that fit no list leave the defaults.
  restarted.OnCrystalChange("8");
  restarted.DeferredSave();
  vp.settings.Write(Station::kApplication, "Settings", "ISP_DEMO_ISP_buad", "9");
  vp.settings.Write(Station::kApplication, "Settings", "ISP_DEMO_WDT_port", "x");
  Station third(vp.platform);
  EXPECT_EQ(third.comb_oscillate_frequency.text, "11.0592");
  EXPECT_EQ(third.comb_ISP_buad.Text(), "38400");
  EXPECT_EQ(third.comb_ISP_DEMO_WDT[0].Text(), "P1");
}

TEST_F(IspDemoStationTest, WriteOnceSendsTheOptionsFirstThenTheDemoKilobyte) {
  station.OnWriteIspDemoClick();
  EXPECT_EQ(Log(), kAutoOk);
  EXPECT_EQ(station.Combo2.Text(), "1.0k");
  EXPECT_TRUE(station.IspDemoMode);
  EXPECT_TRUE(station.DemoImageReady);
  EXPECT_FALSE(station.comStoreFile.enabled);
  EXPECT_EQ(station.ImageBuffer.Get(kBase + 111), 0x40);
  EXPECT_EQ(station.ImageBuffer.Get(kBase + 114), 0x05);

  // LOCK, SB and MOVCL 0, ISP size 1 K; OR1 from the panel's defaults.
  std::vector<Bytes> frames(writer.ReceivedFrames().begin() + 6, writer.ReceivedFrames().end());
  ASSERT_EQ(frames.size(), 9U);
  EXPECT_EQ(frames[0], OptionFrame(0xE0, 0xED));
  for (std::size_t i = 0; i < 8; ++i) {
    const std::int32_t address = kBase + static_cast<std::int32_t>(i) * 128;
    // Only the first chunk of the first block carries the first flag.
    Bytes chunk{0x6A,
                0x00,
                140,
                i == 0 ? std::uint8_t{0x04} : std::uint8_t{0x03},
                0x00,
                0x00,
                static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address),
                0x00,
                0x80};
    for (std::int32_t a = address; a < address + 128; ++a)
      chunk.push_back(station.ImageBuffer.Get(a));
    EXPECT_EQ(frames[1 + i], WithSum(chunk)) << i;
  }
  EXPECT_TRUE(DemoOnChip());
  EXPECT_EQ(writer.Flash()[kBase + 111], 0x40);

  // No file: the verification covers the demo alone. (The simulated chip hides its flash as
  // soon as LOCK is 0: it is unlocked here.) A double-click keeps the demo's mode.
  writer.Chip().SetOptions(0xFF, 0xFF);
  writer.ClearReceivedFrames();
  station.txtAuto[8].text = "Verify Program";
  station.txtAuto[9].text.clear();
  station.OnFunctionDoubleClick(0);
  EXPECT_TRUE(station.IspDemoMode);
  EXPECT_EQ(Log(), std::string(kConnected) + "Verify Program" + std::string(15, ' ') +
                       " OK!\r\n\r\nAuto              OK!");
  EXPECT_EQ(FramesWithCode(0x0D),
            std::vector<Bytes>{
                WithSum({0x6A, 0x00, 0x0E, 0x0D, 0x00, 0x00, 0xF8, 0x00, 0x00, 0x00, 0xFB, 0xFF})});

  // The Program button uses the file again.
  vp.dialogs.ExpectInformation();  // "Please open file."
  station.OnProgramClick();
  EXPECT_FALSE(station.IspDemoMode);
}

TEST_F(IspDemoStationTest, ALoadedFileIsWrittenAfterTheDemoAndVerifiedWithoutIt) {
  for (std::int32_t a = 0; a <= 0x3FF; ++a)
    station.ImageBuffer.Set(a, static_cast<std::uint8_t>(a));
  station.FileLoaded = true;
  station.ProgramStart = 0;
  station.ProgramEnd = station.DataEnd = 0x3FF;
  station.OnWriteIspDemoClick();
  EXPECT_EQ(Log(), kAutoOk);
  const std::vector<Bytes> writes = FramesWithCode(0x04);
  ASSERT_EQ(writes.size(), 2U);
  EXPECT_EQ(writes[0][6], 0xF8);
  EXPECT_EQ(writes[1][6], 0x00);
  EXPECT_TRUE(DemoOnChip());
  EXPECT_EQ(writer.Flash()[0x3FE], 0xFE);

  writer.Chip().SetOptions(0xFF, 0xFF);
  station.txtAuto[8].text = "Verify Program";
  station.txtAuto[9].text.clear();
  station.OnFunctionDoubleClick(0);
  EXPECT_EQ(FramesWithCode(0x0D).back(),
            WithSum({0x6A, 0x00, 0x0E, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0xFF}));
}

TEST_F(IspDemoStationTest, SizeWarningOneBytePastTheLimitAndTheDemoSurvivesTheFitCheck) {
  auto load = [&](std::int32_t end) {
    for (std::int32_t a = 0; a <= end; ++a) station.ImageBuffer.Set(a, 0x5A);
    station.FileLoaded = true;
    station.ProgramStart = 0;
    station.ProgramEnd = station.DataEnd = end;
  };
  // Reaching beyond the AP area, the file fails the ISP size's fit check at once, before the
  // build, and is dropped; the demo it would have overwritten is written whole.
  load(0xF7FF);
  vp.dialogs.ExpectInformation();
  station.OnWriteIspDemoClick();
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 1U);
  EXPECT_EQ(vp.dialogs.ShownDialogs()[0].text, "Please reload file.");
  EXPECT_EQ(Log(), kAutoOk);
  EXPECT_TRUE(DemoOnChip());

  load(0xF800);
  vp.dialogs.ExpectInformation();
  vp.dialogs.ExpectInformation();
  station.OnWriteIspDemoClick();
  ASSERT_EQ(vp.dialogs.ShownDialogs().size(), 3U);
  EXPECT_EQ(vp.dialogs.ShownDialogs()[2].text, kTooLarge);
  EXPECT_EQ(vp.dialogs.ShownDialogs()[2].title, "");
  EXPECT_TRUE(DemoOnChip());
}

TEST_F(IspDemoStationTest, RefusedBuildsWriteNothing) {
  station.OnIspDemoWdtClick(1);
  station.On485PinClick(1);
  station.OnIspDemoWdtPinChange(1, 1);  // both on P1.1
  vp.dialogs.ExpectInformation();
  station.OnWriteIspDemoClick();
  EXPECT_EQ(
      vp.dialogs.ShownDialogs().back().text,
      "The external watchdog feed and the RS-485 direction control cannot use the same I/O pin.");
  EXPECT_TRUE(station.IspDemoRefused);
  EXPECT_EQ(vp.port.OpenCount(), 0);

  // The repeated write ends with everything given back.
  station.On485PinClick(0);
  station.OnTreeNodeClick("VXB03H");  // no number for this model
  Choose("VXA05H");
  vp.dialogs.ExpectInformation();
  station.OnRewriteIspDemoClick();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text, "MCU type is erroneous.");
  EXPECT_EQ(vp.port.OpenCount(), 0);
  EXPECT_TRUE(station.com_re_write_ISP_demo.enabled);
  EXPECT_TRUE(station.comReDownload.enabled);
  EXPECT_TRUE(station.comDownload.enabled);
  EXPECT_TRUE(station.Combo2.enabled);
  EXPECT_FALSE(station.comStop_Download.enabled);

  station.OnTreeNodeClick("VXA05H");
  Choose("VXA05H");
  station.OnCrystalChange("MHz");
  vp.dialogs.ExpectInformation();
  station.OnWriteIspDemoClick();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text, "The clock frequency is not a valid number.");
  EXPECT_EQ(vp.port.OpenCount(), 0);
  EXPECT_TRUE(writer.ReceivedFrames().empty());

  // 1 MHz cannot make 115200 baud: the label says so at once, the build is refused, and the
  // listing shows the reload the buffer holds (the template's), not the one refused.
  station.OnCrystalChange("1");
  station.OnIspBaudChange(8);
  EXPECT_EQ(station.Lab_BAUD_ERR.caption, "   %");
  EXPECT_EQ(station.Lab_BAUD_ERR.backColour, 0xFFU);
  vp.dialogs.ExpectInformation();
  station.OnWriteIspDemoClick();
  EXPECT_EQ(vp.dialogs.ShownDialogs().back().text,
            "The baud rate cannot be made from this crystal: choose another frequency or baud "
            "rate.");
  EXPECT_TRUE(station.IspDemoRefused);
  EXPECT_EQ(vp.port.OpenCount(), 0);
  const std::string listing = IspDemoListing(station);
  EXPECT_NE(listing.find("\nReload: FFF7 (N = 9)\nBaud error: % (red)\n"), std::string::npos)
      << listing;
}

TEST_F(IspDemoStationTest, RepeatAsksForPowerOnResetCountsDownAndStops) {
  station.Option[4].selected = 1;
  station.comDalay_ReDownLoad.index = 3;
  vp.dialogs.ExpectQuestion(false);
  int runs = 0;
  station.onRunFinished = [&] { ++runs; };
  std::vector<std::string> countdown;
  vp.pump.SetIdleHook([&] {
    const std::string& log = station.textMsg.Text();
    const auto at = log.find("准备重复运行... ");
    if (at == std::string::npos || station.textMsg.Caret() != log.size()) return;
    if (countdown.empty() || countdown.back() != log.substr(at))
      countdown.push_back(log.substr(at));
    if (runs == 2 && log.substr(at) == "准备重复运行... 2") station.OnIspDemoStopClick();
  });
  station.OnRewriteIspDemoClick();
  vp.pump.SetIdleHook({});

  EXPECT_EQ(vp.dialogs.ShownDialogs()[0].text, kPowerOnReset);
  EXPECT_EQ(station.Option[4].selected, 1) << "No leaves it";
  // The write once, then the loop's first pass at once on the same chip, then the countdown.
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(countdown, (std::vector<std::string>{"准备重复运行... 3", "准备重复运行... 2"}))
      << "each second replaces the line under the kept log";
  EXPECT_EQ(Log(), kAutoOk + "\r\n准备重复运行... 2\r\n操作被中止!");
  EXPECT_EQ(FramesWithCode(0x05)[0], OptionFrame(0xE0, 0xEF));  // HWBS stays 1
  EXPECT_TRUE(station.comReDownload.enabled);
  EXPECT_TRUE(station.com_re_write_ISP_demo.enabled);
  EXPECT_FALSE(station.comStop_Download.enabled);
}

TEST_F(IspDemoStationTest, RepeatWithoutADelayAndTheShortPauseAfterAFailure) {
  station.Option[4].selected = 1;
  vp.dialogs.ExpectQuestion(true);
  station.comDalay_ReDownLoad.index = 0;
  std::vector<double> ends;
  station.onRunFinished = [&] {
    ends.push_back(vp.clock.NowMs());
    if (ends.size() == 3) station.EndRepeat();
  };
  bool counted = false;
  vp.pump.SetIdleHook([&] { counted = counted || station.textMsg.Contains("准备重复运行"); });
  station.OnRewriteIspDemoClick();
  EXPECT_EQ(station.Option[4].selected, 0);
  EXPECT_FALSE(counted);
  EXPECT_EQ(ends.size(), 3U);
  EXPECT_EQ(FramesWithCode(0x05)[0], OptionFrame(0xE0, 0xED));

  // A failed chip: two seconds, whatever the delay.
  station.comDalay_ReDownLoad.index = 9;
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x08;
  ends.clear();
  station.onRunFinished = [&] {
    ends.push_back(vp.clock.NowMs());
    if (ends.size() == 3) station.EndRepeat();
  };
  std::vector<double> starts;
  vp.pump.SetIdleHook([&] {
    if (station.textMsg.Text() == "We are connecting...\r\n" && starts.size() < ends.size())
      starts.push_back(vp.clock.NowMs());
  });
  station.OnRewriteIspDemoClick();
  vp.pump.SetIdleHook({});
  ASSERT_EQ(starts.size(), 2U);
  EXPECT_NEAR(starts[1] - ends[1], 2000.0, 1.0);
}

TEST_F(IspDemoStationTest, OptionsThatFailEndTheProgramStep) {
  writer.Config().fault = sim::Fault::Silent;
  writer.Config().faultCommand = 0x05;
  station.OnWriteIspDemoClick();
  EXPECT_NE(Log().find("Program File" + std::string(13, ' ') + "failed!"), std::string::npos)
      << Log();
  EXPECT_TRUE(FramesWithCode(0x04).empty());
  EXPECT_EQ(FramesWithCode(0x05).size(), 4U);
}

TEST_F(IspDemoStationTest, CommandLineOptionsSetTheTabAsAnOperatorWould) {
  std::vector<std::string> args{"--port",
                                "COM2",
                                "--isp-crystal",
                                "22.1184",
                                "--isp-baud",
                                "57600",
                                "--isp-parity",
                                "no",
                                "--isp-erase-data",
                                "no",
                                "--isp-watchdog",
                                "P1.7",
                                "--isp-rs485",
                                "P3.5",
                                "--isp-rs485-logic",
                                "high-receive",
                                "--isp-demo-repeat",
                                "--count",
                                "4"};
  CliOptions cli;
  CommandLine line = CliCommandLine(cli);
  ASSERT_EQ(ParseCliOptions(line, args, cli), CommandLine::Result::Run) << line.Errors()[0];
  EXPECT_EQ(cli.start.count, 4);
  const IspDemoOptions& options = cli.ispDemo;
  EXPECT_EQ(ApplyIspDemoOptions(station, options), "");
  EXPECT_EQ(station.comb_oscillate_frequency.index, 7);
  EXPECT_EQ(station.comb_ISP_buad.Text(), "57600");
  EXPECT_EQ(station.opt_ISP_DEMO_parity.selected, 1);
  EXPECT_EQ(station.optISP_DEMO_erase_data.selected, 1);
  EXPECT_EQ(station.comb_ISP_DEMO_WDT[0].Text() + station.comb_ISP_DEMO_WDT[1].Text(), "P17");
  EXPECT_EQ(station.comb_485_pin[0].Text() + station.comb_485_pin[1].Text(), "P35");
  EXPECT_EQ(station.opt_485_logic.selected, 1);

  CliOptions refused;
  CommandLine refusing = CliCommandLine(refused);
  ParseCliOptions(refusing,
                  {"--isp-parity", "maybe", "--isp-rs485", "P5.0", "--isp-watchdog", "P1.8",
                   "--isp-demo-write", "--isp-demo-repeat", "--isp-crystal"},
                  refused);
  EXPECT_EQ(refusing.Errors(),
            (std::vector<std::string>{
                "option --isp-crystal needs a value", "--isp-parity wants yes or no, not \"maybe\"",
                "--isp-rs485 wants none or a pin P0.0 to P4.7, not \"P5.0\"",
                "--isp-watchdog wants none or a pin P0.0 to P4.7, not \"P1.8\"",
                "--isp-demo-write and --isp-demo-repeat exclude each other"}));

  IspDemoOptions logicAlone;
  logicAlone.rs485 = std::optional<IspDemoPin>{};
  logicAlone.rs485HighTransmit = true;
  EXPECT_EQ(ApplyIspDemoOptions(station, logicAlone),
            "--isp-rs485-logic needs an RS-485 pin (--isp-rs485 PORT.BIT)");
}

}  // namespace
}  // namespace kvr
