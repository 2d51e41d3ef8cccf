#include "cli/cli_options.h"

#include "cli/status_stream.h"

namespace kvr {

CommandLine CliCommandLine(CliOptions& options) {
  CommandLine line = StartCommandLine(Program::CommandLine);
  AddStartOptions(line, options.start, Program::CommandLine);

  OfflineOptions& offline = options.offline;
  line.Group("Offline board (instead of pressing Program)");
  line.Flag("--offline-download",
            "download the loaded image to the offline programming board;\n"
            "with --simulate to a simulated board",
            offline.download);
  line.Option("--copies", "N", "the board's copy limit, 1 to 1000000 (needed for the download)",
              [&offline](const std::string& text) {
                offline.copies = text;
                return std::string();
              });
  line.Flag("--offline-legend", "show the legend of the board's LEDs", offline.legend);

  AddIspDemoOptions(line, options.ispDemo);

  line.Group("Saving a job (instead of pressing Program)");
  line.Option("--save-job", "FILE",
              "write the production job the other options set up to FILE\n"
              "(the image beside it is named without its folder) and end",
              options.saveJob);
  line.Option("--product", "TEXT", "the job's product name", [&options](const std::string& text) {
    options.product = text;
    return std::string();
  });
  line.Option("--note", "TEXT", "the job's note", [&options](const std::string& text) {
    options.note = text;
    return std::string();
  });

  line.Group("Supervision");
  line.Option("--status-fd", "N",
              "write the station's status, one line per event, to the\n"
              "inherited descriptor N (3 or more); when its reader is gone,\n"
              "the station stops as on SIGTERM",
              [&options](const std::string& text) { return TakeStatusFd(text, options.statusFd); });

  // Each of these replaces pressing Program in its own way.
  for (const char* other : {"--repeat", "--no-program", "--isp-demo-write", "--isp-demo-repeat"})
    line.Excludes("--offline-download", other);
  for (const char* other : {"--repeat", "--offline-download", "--isp-demo-write",
                            "--isp-demo-repeat", "--save-after", "--locked"})
    line.Excludes("--save-job", other);
  for (const char* other : {"--isp-demo-write", "--isp-demo-repeat"}) {
    line.Excludes("--repeat", other);
    line.Excludes("--no-program", other);
  }
  line.VerbosityOptions(options.start.verbosity, "print only the verdict and errors",
                        "also a line per exchange with the writer on standard error");
  line.Footer(
      "SIGINT or SIGTERM acts as the Stop button.\n"
      "Exit status: 0 when the run connected and its operation succeeded (with --repeat:\n"
      "when every chip was good; with --offline-download: when the download ended with\n"
      "\"Download OK.\"); 1 when it did not; 2 for bad options.");
  return line;
}

CommandLine::Result ParseCliOptions(CommandLine& line, const std::vector<std::string>& args,
                                    CliOptions& options) {
  CommandLine::Result result = line.Parse(args);
  std::vector<std::string>& errors = line.Errors();
  const OfflineOptions& offline = options.offline;
  if (offline.download && !offline.copies && errors.empty())
    errors.push_back("--offline-download needs --copies N");
  if (offline.copies && !offline.download)
    errors.push_back("--copies belongs to --offline-download");
  for (const char* name : {"--product", "--note"})
    if (line.Given(name) && options.saveJob.empty())
      errors.push_back(std::string(name) + " belongs to --save-job");
  const StartOptions& start = options.start;
  if (start.locked && start.job.empty()) errors.push_back("--locked belongs to --job");
  if (start.locked) {
    // What the job sets for the chip, the report and the pause stay the job's.
    for (const char* name :
         {"--model", "--list-model", "--show-extra-families", "--buffer-start", "--clear-buffer",
          "--fill", "--load", "--serial-address", "--serial-bytes", "--serial-step",
          "--serial-mode", "--serial-enable", "--auto-sequence", "--delay", "--report",
          "--report-format", "--offline-download", "--isp-demo-write", "--isp-demo-repeat"})
      if (line.Given(name))
        errors.push_back("--locked keeps the job as it is: " + std::string(name) + " is refused");
    if (line.Given("--function") && start.function != "Auto Program")
      errors.push_back("--locked runs the job's \"Auto Program\": --function \"" + start.function +
                       "\" is refused");
  }
  options.start.help = result == CommandLine::Result::Help;
  options.start.errors = errors;
  if (result == CommandLine::Result::Run && !errors.empty()) result = CommandLine::Result::Bad;
  return result;
}

}  // namespace kvr
