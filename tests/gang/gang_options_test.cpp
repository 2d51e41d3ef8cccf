// kvr-gang's command line and the tables it draws.

#include <gtest/gtest.h>

#include <sstream>

#include "gang/gang_options.h"
#include "gang/line_table.h"

namespace kvr::gang {
namespace {

using Args = std::vector<std::string>;

TEST(GangOptions, EveryOptionGoesWhereItActsOnce) {
  const GangOptions options = ParseGangOptions({"--ports",
                                                "COM1, /dev/ttyUSB3",
                                                "--settings",
                                                "line.ini",
                                                "--list-model",
                                                "VXA05H",
                                                "--load",
                                                "fw.hex",
                                                "--auto-sequence",
                                                "Erase MCU,Program File",
                                                "--serial-next",
                                                "100",
                                                "--serial-mode",
                                                "dec",
                                                "--serial-enable",
                                                "--count",
                                                "50",
                                                "--delay",
                                                "0",
                                                "--report",
                                                "line.csv",
                                                "--clear-ok-count",
                                                "--yes",
                                                "--hang-after",
                                                "12"});
  ASSERT_TRUE(options.errors.empty()) << options.errors[0];
  EXPECT_EQ(options.ports, (Args{"COM1", "/dev/ttyUSB3"}));
  EXPECT_EQ(options.hangAfterSeconds, 12);
  EXPECT_EQ(options.sharedArgs,
            (Args{"--settings", "line.ini", "--list-model", "VXA05H", "--yes"}));
  EXPECT_EQ(options.onceArgs, (Args{"--auto-sequence", "Erase MCU,Program File", "--serial-next",
                                    "100", "--serial-mode", "dec", "--clear-ok-count"}));
  // A station never gets the settings that are set once: a late start would set the next
  // serial number back.
  EXPECT_EQ(StationArguments(options, "/dev/ttyUSB3", 3),
            (Args{"--settings", "line.ini",     "--list-model", "VXA05H",
                  "--yes",      "--load",       "fw.hex",       "--serial-enable",
                  "--count",    "50",           "--delay",      "0",
                  "--report",   "line.csv",     "--port",       "/dev/ttyUSB3",
                  "--function", "Auto Program", "--repeat",     "--status-fd",
                  "3"}));
  const Args setUp = SetUpArguments(options);
  EXPECT_EQ(Args(setUp.end() - 8, setUp.end()),
            (Args{"--auto-sequence", "Erase MCU,Program File", "--serial-next", "100",
                  "--serial-mode", "dec", "--clear-ok-count", "--no-program"}));
}

TEST(GangOptions, SerialFieldsAreStoredBySwitchingTheStampOnInTheSetUp) {
  const GangOptions options =
      ParseGangOptions({"--simulate", "2", "--serial-address", "7FFF", "--settings", "s.ini"});
  ASSERT_TRUE(options.errors.empty());
  EXPECT_EQ(SetUpArguments(options), (Args{"--settings", "s.ini", "--serial-address", "7FFF",
                                           "--serial-enable", "--no-program"}));
  // Without serial-number fields the set-up only checks.
  EXPECT_EQ(SetUpArguments(ParseGangOptions({"--simulate", "1"})), Args{"--no-program"});
}

TEST(GangOptions, SimulatorOptionsForEveryWriterOrForOne) {
  const GangOptions options =
      ParseGangOptions({"--simulate", "3", "--sim-options", "--wire-time", "--sim-options",
                        "2:--random-faults 0.05  --seed 7", "--sim-options=3:--silent", "-v"});
  ASSERT_TRUE(options.errors.empty()) << options.errors[0];
  EXPECT_EQ(SimulatorArguments(options, 1), Args{"--wire-time"});
  EXPECT_EQ(SimulatorArguments(options, 2),
            (Args{"--wire-time", "--random-faults", "0.05", "--seed", "7"}));
  EXPECT_EQ(SimulatorArguments(options, 3), (Args{"--wire-time", "--silent"}));
  // The stations tell their exchanges.
  EXPECT_EQ(StationArguments(options, "/dev/pts/3", 3).front(), "--verbose");
}

TEST(GangOptions, BadOptionsAreNamed) {
  auto firstError = [](const Args& args) {
    const GangOptions options = ParseGangOptions(args);
    return options.errors.empty() ? std::string("<none>") : options.errors[0];
  };
  EXPECT_EQ(firstError({}), "name the writers with either --ports or --simulate N");
  EXPECT_EQ(firstError({"--ports", "COM1", "--simulate", "2"}),
            "name the writers with either --ports or --simulate N");
  EXPECT_EQ(firstError({"--ports", "COM1,,COM2"}),
            "--ports wants COMn or device paths separated by commas, not \"COM1,,COM2\"");
  EXPECT_EQ(firstError({"--ports", "COM1,COM1"}),
            "--ports names COM1 twice: one station per writer");
  EXPECT_EQ(firstError({"--simulate", "33"}),
            "--simulate wants a number of writers from 1 to 32, not \"33\"");
  EXPECT_EQ(firstError({"--simulate", "2", "--hang-after", "0"}),
            "--hang-after wants whole seconds from 1 to 3600, not \"0\"");
  EXPECT_EQ(firstError({"--simulate", "2", "--sim-options", "3:--silent"}),
            "--sim-options names writer 3, but there are 2");
  EXPECT_EQ(firstError({"--ports", "COM1", "--sim-options", "--silent"}),
            "--sim-options belongs to --simulate N");
  EXPECT_EQ(firstError({"--simulate", "1", "--function", "Erase MCU"}),
            "unknown option \"--function\" (see --help)");
  EXPECT_EQ(firstError({"--simulate", "1", "--load"}), "option --load needs a value");
  EXPECT_EQ(firstError({"--simulate", "1", "--load", "--count", "5"}),
            "--load wants FILE, not the option --count");
  EXPECT_EQ(firstError({"--simulate", "1", "--yes", "--no"}), "--yes and --no exclude each other");
  EXPECT_TRUE(ParseGangOptions({"--help"}).errors.empty());
  // Each station applies the job's sequence and numbering over the shared settings.
  EXPECT_EQ(firstError({"--simulate", "1", "--job", "j", "--serial-bytes", "4"}),
            "--job sets the automatic sequence and the serial numbers: --serial-bytes is refused "
            "with it (change the job)");
  EXPECT_EQ(firstError({"--simulate", "1", "--locked"}), "--locked belongs to --job");
}

TEST(GangOptions, AJobGoesToTheSetUpAndToEveryStation) {
  const GangOptions options = ParseGangOptions(
      {"--simulate", "2", "--job", "line.kvrjob", "--locked", "--serial-next", "100"});
  ASSERT_TRUE(options.errors.empty()) << options.errors[0];
  // The job decides whether numbers are stamped: the set-up does not switch the stamp on.
  EXPECT_EQ(SetUpArguments(options),
            (Args{"--job", "line.kvrjob", "--locked", "--serial-next", "100", "--no-program"}));
  const Args station = StationArguments(options, "COM1", 3);
  EXPECT_EQ(Args(station.begin(), station.begin() + 3), (Args{"--job", "line.kvrjob", "--locked"}));
}

TEST(LineTable, RowsStatesAndTotals) {
  std::vector<WriterRow> rows(3);
  rows[0].port = "COM1";
  rows[0].state = WriterState::Working;
  rows[0].step = "Program File";
  rows[0].done = 7373;
  rows[0].total = 16384;
  rows[0].good = 12;
  rows[0].failed = 1;
  rows[0].lastSerial = "00000112";
  rows[1].port = "/dev/pts/12";
  rows[1].state = WriterState::Countdown;
  rows[1].countdown = 3;
  rows[1].good = 11;
  rows[2].port = "COM3";
  rows[2].state = WriterState::Failed;
  rows[2].reason = "the port was lost";
  const std::vector<std::string> lines = TableLines(rows, 3725.0);
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_EQ(lines[0],
            "Port         State              Progress               Good  Failed  Last serial");
  EXPECT_EQ(lines[1],
            "COM1         Program File        45%    7.2/16.0 KB      12       1  00000112");
  EXPECT_EQ(lines[2], "/dev/pts/12  countdown 3                                 11       0");
  EXPECT_EQ(lines[3],
            "COM3         failed                                       0       0               "
            "the port was lost");
  EXPECT_EQ(lines[4], "Line: 23 good, 1 failed, 23 chips per hour, 1:02:05");
  EXPECT_EQ(SummaryLine(rows, 3600.0),
            "Summary: 3 writers, 23 good, 1 failed, 24 in all, 24 chips per hour");
  EXPECT_EQ(ChipsPerHour(10, 0.0), 0.0);
}

TEST(LineTable, ALiveTableIsRedrawnInPlaceAndNeverWraps) {
  std::ostringstream out;
  LiveTable table(out);
  table.Draw({"a", "b"}, 0);
  table.PrintAbove("COM2: the port was lost: the writer leaves the line");
  table.Draw({"abcdef"}, 5);
  EXPECT_EQ(out.str(),
            "a\033[K\nb\033[K\n"
            "\033[2F\033[JCOM2: the port was lost: the writer leaves the line\n"
            "abcd\033[K\n");
  // Wide characters count two columns and are never cut in half.
  EXPECT_EQ(ClipToColumns("擦除 OK", 4), "擦除");
  EXPECT_EQ(ClipToColumns("擦除 OK", 3), "擦");
  EXPECT_EQ(ClipToColumns("OK", 10), "OK");
  // And they keep the columns of a table in line.
  std::vector<WriterRow> rows(2);
  rows[0].port = "COM1";
  rows[1].port = "设备";
  const std::vector<std::string> lines = TableLines(rows, 1.0);
  EXPECT_EQ(lines[1].find("starting"), std::string("COM1  ").size());
  EXPECT_EQ(lines[2].find("starting"), std::string("设备  ").size());
}

}  // namespace
}  // namespace kvr::gang
