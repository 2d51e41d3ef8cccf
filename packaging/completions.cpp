// Writes the bash completion of every program into the folder it is given, each made from the
// program's own options, so that a completion never offers an option the program lacks.

#include <fstream>
#include <iostream>
#include <string>

#include "app/start_options.h"
#include "cli/cli_options.h"
#include "gang/gang_options.h"
#include "isp_cli/isp_options.h"
#include "line_cli/line_options.h"
#include "simulator/writer_sim_options.h"

namespace {

bool Write(const std::string& folder, const std::string& program, const kvr::CommandLine& line) {
  std::ofstream out(folder + "/" + program, std::ios::trunc);
  out << line.BashCompletion();
  out.close();
  if (!out) std::cerr << "kvr-completions: cannot write " << folder << "/" << program << '\n';
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kvr-completions FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  kvr::StartOptions window;
  kvr::CommandLine station = kvr::StartCommandLine(kvr::Program::Window);
  kvr::AddStartOptions(station, window, kvr::Program::Window);
  kvr::CliOptions cli;
  kvr::gang::GangOptions gang;
  kvr::IspOptions isp;
  kvr::sim::WriterSimOptions sim;
  kvr::LineOptions line;
  const bool ok = Write(folder, "kvr-station", station) &
                  Write(folder, "kvr-cli", kvr::CliCommandLine(cli)) &
                  Write(folder, "kvr-gang", kvr::gang::GangCommandLine(gang)) &
                  Write(folder, "kvr-isp", kvr::IspCommandLine(isp)) &
                  Write(folder, "kvr-writer-sim", kvr::sim::WriterSimCommandLine(sim)) &
                  Write(folder, "kvr-line", kvr::LineCommandLine(line));
  return ok ? 0 : 1;
}
