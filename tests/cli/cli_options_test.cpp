// kvr-cli's command line: the forms it takes and what it refuses.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_options.h"

namespace kvr {
namespace {

using Args = std::vector<std::string>;

struct Parsed {
  CliOptions options;
  CommandLine::Result result;
  std::vector<std::string> errors;
};

Parsed Parse(const Args& args) {
  Parsed parsed;
  CommandLine line = CliCommandLine(parsed.options);
  parsed.result = ParseCliOptions(line, args, parsed.options);
  parsed.errors = line.Errors();
  return parsed;
}

TEST(CliOptions, BothFormsOfAValueTheLastOneCountingAndRepeatableOptions) {
  const Parsed parsed =
      Parse({"--port=COM3", "--function", "Read MCU ID", "--port-map", "COM2=/dev/a",
             "--port-map=COM4=/dev/b=c", "-q", "--export", "0", "10", "out.bin", "--count=3",
             "--port", "/dev/ttyUSB1", "--auto-sequence=Erase MCU, Program File"});
  ASSERT_EQ(parsed.result, CommandLine::Result::Run) << parsed.errors[0];
  const StartOptions& o = parsed.options.start;
  EXPECT_EQ(o.port, "/dev/ttyUSB1");
  EXPECT_EQ(o.function, "Read MCU ID");
  EXPECT_EQ(o.portMap, (Args{"COM2=/dev/a", "COM4=/dev/b=c"}));
  EXPECT_EQ(o.verbosity, Verbosity::Quiet);
  ASSERT_TRUE(o.exportRange);
  EXPECT_EQ(o.exportRange->file, "out.bin");
  EXPECT_EQ(o.count, 3);
  EXPECT_EQ(o.autoSequence, (Args{"Erase MCU", "Program File"}));
}

TEST(CliOptions, RefusalsNameWhatIsWrong) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--port", "--no-program"}, "--port wants COMn|PATH, not the option --no-program"},
      {{"--load", "-q"}, "--load wants FILE, not the option -q"},
      {{"--export", "0", "--view", "f"}, "--export wants START LENGTH FILE, not the option --view"},
      {{"--export", "0", "10"}, "option --export needs START LENGTH FILE"},
      {{"--report"}, "option --report needs a value"},
      {{"--yes", "--no"}, "--yes and --no exclude each other"},
      {{"--repeat", "--offline-download", "--copies", "5"},
       "--offline-download and --repeat exclude each other"},
      {{"--no-program", "--isp-demo-repeat", "--list-model", "VXA05H"},
       "--no-program and --isp-demo-repeat exclude each other"},
      {{"--save-after", "0", "10", "f", "--no-program"},
       "--no-program and --save-after exclude each other"},
      {{"-q", "--verbose"}, "--quiet and --verbose exclude each other"},
      {{"--view=yes"}, "--view takes no value"},
      {{"--export=0"}, "--export wants START LENGTH FILE as separate words"},
      {{"--copies", "5"}, "--copies belongs to --offline-download"},
      {{"--offline-download"}, "--offline-download needs --copies N"},
      {{"--fill=AA"}, "--fill wants FF or 00, not \"AA\""},
      {{"--count", "0"}, "--count wants a number of chips from 1, not \"0\""},
      {{"--bogus", "x"}, "unknown option \"--bogus\" (see --help)"},
      {{"--locked", "--fill", "00"}, "--locked belongs to --job"},
      {{"--job", "j", "--locked", "--load", "other.hex"},
       "--locked keeps the job as it is: --load is refused"},
      {{"--job", "j", "--locked", "--delay", "0"},
       "--locked keeps the job as it is: --delay is refused"},
      {{"--job", "j", "--locked", "--function", "Read EEPROM"},
       "--locked runs the job's \"Auto Program\": --function \"Read EEPROM\" is refused"},
      {{"--product", "Widget"}, "--product belongs to --save-job"},
      {{"--save-job", "j", "--repeat"}, "--save-job and --repeat exclude each other"},
  };
  for (const auto& [args, error] : cases) {
    const Parsed parsed = Parse(args);
    EXPECT_EQ(parsed.result, CommandLine::Result::Bad) << args[0];
    EXPECT_EQ(parsed.errors.empty() ? "" : parsed.errors[0], error) << args[0];
  }
  // Under --locked what a line runs by is left: the port, the count, the repeat, the answers.
  EXPECT_EQ(Parse({"--job", "j", "--locked", "--port", "COM2", "--function", "Auto Program",
                   "--repeat", "--count", "5", "--yes", "--serial-next", "100"})
                .result,
            CommandLine::Result::Run);
  // A negative number and "-" are values, not options.
  EXPECT_EQ(Parse({"--load", "-"}).result, CommandLine::Result::Run);
  EXPECT_EQ(Parse({"--delay", "-1"}).errors,
            Args{"--delay wants whole seconds from 0 to 60, not \"-1\""});
}

TEST(CliOptions, HelpVersionAndBadOptionsEachHaveTheirStatus) {
  CliOptions options;
  CommandLine line = CliCommandLine(options);
  std::ostringstream out, err;
  EXPECT_EQ(line.Report(line.Parse({"--port", "COM1", "-h"}), out, err), 0);
  // The groups in the order of the window's work, the refusals beside their options.
  const std::string help = out.str();
  std::size_t at = 0;
  for (const char* text :
       {"Usage: kvr-cli [options]", "The run:", "--port COMn|PATH", "Production:", "ISP demo",
        "refused for a", "General:", "-q, --quiet", "-V, --version", "Exit status: 0"}) {
    at = help.find(text, at);
    EXPECT_NE(at, std::string::npos) << text << "\n" << help;
  }
  out.str("");
  CommandLine again = CliCommandLine(options);
  EXPECT_EQ(again.Report(again.Parse({"-V"}), out, err), 0);
  EXPECT_EQ(out.str().rfind("kvr-cli ", 0), 0U);
  CommandLine bad = CliCommandLine(options);
  EXPECT_EQ(bad.Report(bad.Parse({"--yes", "--no"}), out, err), 2);
  EXPECT_EQ(err.str(), "kvr-cli: --yes and --no exclude each other\n");
}

}  // namespace
}  // namespace kvr
