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

  line.Group("Supervision");
  line.Option("--status-fd", "N",
              "write the station's status, one line per event, to the\n"
              "inherited descriptor N (3 or more); when its reader is gone,\n"
              "the station stops as on SIGTERM",
              [&options](const std::string& text) { return TakeStatusFd(text, options.statusFd); });

  // Each of these replaces pressing Program in its own way.
  for (const char* other : {"--repeat", "--no-program", "--isp-demo-write", "--isp-demo-repeat"})
    line.Excludes("--offline-download", other);
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
  options.start.help = result == CommandLine::Result::Help;
  options.start.errors = errors;
  if (result == CommandLine::Result::Run && !errors.empty()) result = CommandLine::Result::Bad;
  return result;
}

}  // namespace kvr
