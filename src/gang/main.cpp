// kvr-gang: a production line of several writers, one kvr-cli station per writer, all
// supervised from here: a live table or a line per chip, and a summary at the end.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "command_line/exchange_line.h"
#include "gang/child_process.h"
#include "gang/gang_options.h"
#include "gang/line_supervisor.h"
#include "gang/line_table.h"

namespace {

using namespace kvr::gang;
using Clock = std::chrono::steady_clock;

constexpr int kStatusFd = 3;
constexpr auto kSimulatorStart = std::chrono::seconds(10);
constexpr auto kSimulatorStop = std::chrono::seconds(5);
constexpr auto kRedraw = std::chrono::milliseconds(250);

// The write end the signal handler may touch: a handler can only write to a descriptor.
int g_signalWriteEnd = -1;

void OnSignal(int number) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(number);
  (void)!::write(g_signalWriteEnd, &byte, 1);
  errno = saved;
}

// SIGINT, SIGTERM and SIGCHLD as bytes on a pipe the main loop polls.
class SignalPipe {
 public:
  bool Install() {
    if (!MakePipe(ends_)) return false;
    ::fcntl(ends_.write, F_SETFL, ::fcntl(ends_.write, F_GETFL) | O_NONBLOCK);
    g_signalWriteEnd = ends_.write;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    for (int number : {SIGINT, SIGTERM, SIGCHLD}) ::sigaction(number, &action, nullptr);
    // A reader of our output that goes away must not end the line mid-chip.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
  }
  int Fd() const { return ends_.read; }
  // Empties the pipe; true when a stop signal was among what came.
  bool TakeStop() {
    unsigned char bytes[64];
    bool stop = false;
    ssize_t n = 0;
    while ((n = ::read(ends_.read, bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR))
      for (ssize_t i = 0; i < n; ++i) stop = stop || bytes[i] != SIGCHLD;
    return stop;
  }

 private:
  PipeEnds ends_;
};

// A writer's station process.
struct StationProcess {
  std::string port;
  pid_t pid = -1;
  int statusFd = -1;
  int errorFd = -1;
  LineBuffer status;
  LineBuffer errors;
  std::string lastError;
  std::ofstream log;
};

struct Simulator {
  pid_t pid = -1;
  int outFd = -1;  // its output and errors: the device path first
  LineBuffer out;
  std::string path;
};

class Control : public StationControl {
 public:
  explicit Control(std::vector<StationProcess>& stations) : stations_(stations) {}
  void Terminate(std::size_t writer) override { Signal(writer, SIGTERM); }
  void Kill(std::size_t writer) override { Signal(writer, SIGKILL); }

 private:
  void Signal(std::size_t writer, int number) {
    if (stations_[writer].pid > 0) ::kill(stations_[writer].pid, number);
  }
  std::vector<StationProcess>& stations_;
};

std::string FindProgram(const std::string& given, const char* name, const char* buildFolder) {
  if (!given.empty()) return given;
  const std::string own = OwnFolder();
  if (!own.empty())
    for (const std::string& candidate : {own + "/" + name, own + "/../" + buildFolder + "/" + name})
      if (IsExecutable(candidate)) return candidate;
  return name;  // from PATH
}

// Waits until `fd` has something to read, at most until `deadline`; false when time ran out.
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    const int n = ::poll(&entry, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One station run that checks every option once and sets the shared settings once.
bool SetUp(const std::string& cli, const GangOptions& options) {
  PipeEnds out;
  if (!MakePipe(out)) return false;
  std::string error;
  const pid_t pid = StartChild({cli, SetUpArguments(options), out.write, out.write, -1}, &error);
  CloseFd(out.write);
  if (pid < 0) {
    std::cerr << "kvr-gang: " << error << '\n';
    CloseFd(out.read);
    return false;
  }
  LineBuffer output;
  while (WaitReadable(out.read, Clock::now() + std::chrono::hours(1)) &&
         output.ReadFrom(out.read)) {
  }
  CloseFd(out.read);
  const int status = WaitExit(pid);
  std::vector<std::string> lines;
  while (auto line = output.Next()) lines.push_back(*line);
  if (const std::string rest = output.Rest(); !rest.empty()) lines.push_back(rest);
  for (const std::string& line : lines) {
    // A failed set-up shows everything; a good one only what the station asked or told.
    if (status != 0 || line.rfind("[box]", 0) == 0 || line.rfind("[question]", 0) == 0)
      std::cerr << "kvr-gang: setting up: " << line << '\n';
  }
  if (status != 0)
    std::cerr << "kvr-gang: the line did not start: the station refused its options\n";
  return status == 0;
}

bool StartSimulator(const std::string& program, const GangOptions& options, int number,
                    Simulator& sim) {
  PipeEnds out;
  if (!MakePipe(out)) return false;
  std::string error;
  sim.pid =
      StartChild({program, SimulatorArguments(options, number), out.write, out.write, -1}, &error);
  CloseFd(out.write);
  sim.outFd = out.read;
  if (sim.pid < 0) {
    std::cerr << "kvr-gang: " << error << '\n';
    return false;
  }
  const auto deadline = Clock::now() + kSimulatorStart;
  std::optional<std::string> line;
  while (!(line = sim.out.Next())) {
    if (!WaitReadable(sim.outFd, deadline)) break;
    if (!sim.out.ReadFrom(sim.outFd)) {  // it ended
      line = sim.out.Next();
      break;
    }
  }
  if (!line) line = sim.out.Rest();
  if (line->empty() || line->front() != '/') {
    std::cerr << "kvr-gang: simulated writer " << number << " did not start"
              << (line->empty() ? std::string() : ": " + *line) << '\n';
    return false;
  }
  sim.path = *line;
  return true;
}

// Ends the simulated writers and prints what they had to say (injected faults, errors).
void StopSimulators(std::vector<Simulator>& sims, SignalPipe& signals) {
  for (const Simulator& sim : sims)
    if (sim.pid > 0) ::kill(sim.pid, SIGTERM);
  const auto deadline = Clock::now() + kSimulatorStop;
  for (Simulator& sim : sims) {
    while (sim.pid > 0) {
      if (::waitpid(sim.pid, nullptr, WNOHANG) == sim.pid) {
        sim.pid = -1;
        break;
      }
      if (!WaitReadable(signals.Fd(), deadline)) {
        ::kill(sim.pid, SIGKILL);
        WaitExit(sim.pid);
        sim.pid = -1;
        break;
      }
      signals.TakeStop();
    }
    if (sim.outFd >= 0) sim.out.ReadFrom(sim.outFd);
    CloseFd(sim.outFd);
    while (auto line = sim.out.Next())
      if (!line->empty()) std::cout << sim.path << ": " << *line << '\n';
  }
}

std::string LogName(std::size_t writer, const std::string& port) {
  std::string name = std::to_string(writer + 1) + "-";
  for (char c : port) name += (std::isalnum(static_cast<unsigned char>(c)) != 0) ? c : '_';
  return name + ".log";
}

bool StartStation(const std::string& cli, const GangOptions& options, std::size_t writer,
                  StationProcess& station, std::string* error) {
  PipeEnds status, errors;
  if (!MakePipe(status) || !MakePipe(errors)) {
    *error = std::strerror(errno);
    for (int* fd : {&status.read, &status.write, &errors.read, &errors.write}) CloseFd(*fd);
    return false;
  }
  int logFd = -1;
  if (!options.logDir.empty()) {
    // The station's log and its error lines (written from here) share the file: both append.
    const std::string path = options.logDir + "/" + LogName(writer, station.port);
    logFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    station.log.open(path, std::ios::app);
  }
  station.pid = StartChild(
      {cli, StationArguments(options, station.port, kStatusFd), logFd, errors.write, status.write},
      error);
  if (logFd >= 0) ::close(logFd);
  CloseFd(status.write);
  CloseFd(errors.write);
  station.statusFd = status.read;
  station.errorFd = errors.read;
  return station.pid > 0;
}

// The line's time up to `until`, from its first chip.
double Seconds(const LineSupervisor& line, Clock::time_point until) {
  const auto first = line.FirstChip();
  return first && until > *first ? std::chrono::duration<double>(until - *first).count() : 0.0;
}

std::size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  GangOptions options;
  kvr::CommandLine commandLine = GangCommandLine(options);
  if (const auto result =
          ParseGangOptions(commandLine, std::vector<std::string>(argv + 1, argv + argc), options);
      result != kvr::CommandLine::Result::Run)
    return commandLine.Report(result, std::cout, std::cerr);
  const bool quiet = options.verbosity == kvr::Verbosity::Quiet;
  if (!options.logDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.logDir, error);
    if (!std::filesystem::is_directory(options.logDir, error)) {
      std::cerr << "kvr-gang: cannot keep logs in " << options.logDir << '\n';
      return 2;
    }
  }
  KeepStandardDescriptorsOpen();
  SignalPipe signals;
  if (!signals.Install()) {
    std::cerr << "kvr-gang: " << std::strerror(errno) << '\n';
    return 1;
  }
  const std::string cli = FindProgram(options.cli, "kvr-cli", "src");
  if (!SetUp(cli, options)) return 2;
  if (signals.TakeStop()) return 1;

  std::vector<Simulator> sims(static_cast<std::size_t>(options.simulate));
  std::vector<std::string> ports = options.ports;
  if (options.simulate > 0) {
    const std::string program = FindProgram(options.writerSim, "kvr-writer-sim", "simulator");
    for (std::size_t i = 0; i < sims.size(); ++i) {
      if (!StartSimulator(program, options, static_cast<int>(i) + 1, sims[i])) {
        StopSimulators(sims, signals);
        return 1;
      }
      ports.push_back(sims[i].path);
    }
  }

  const bool terminal = ::isatty(STDOUT_FILENO) != 0;
  std::vector<StationProcess> stations(ports.size());
  Control control(stations);
  SupervisorLimits limits;
  limits.hangAfter = std::chrono::seconds(options.hangAfterSeconds);
  const Clock::time_point start = Clock::now();
  LineSupervisor line(ports, control, limits, start);
  for (std::size_t i = 0; i < stations.size(); ++i) {
    stations[i].port = ports[i];
    std::string error;
    if (!StartStation(cli, options, i, stations[i], &error))
      line.OnExit(i, {false, 127}, error, start);
  }

  LiveTable table(std::cout);
  Clock::time_point ended = start;
  Clock::time_point drawn{};
  bool changed = true;
  auto report = [&](bool final) {
    for (const Notice& notice : line.TakeNotices()) {
      changed = true;
      if (quiet && notice.kind == Notice::Kind::Chip) continue;
      if (!terminal || quiet)
        std::cout << notice.text << '\n';
      else if (notice.kind == Notice::Kind::Writer)
        table.PrintAbove(notice.text);
    }
    if (!terminal || quiet) {
      std::cout.flush();
      return;
    }
    const auto now = Clock::now();
    if (final || (changed && now - drawn >= kRedraw) || now - drawn >= std::chrono::seconds(1)) {
      table.Draw(TableLines(line.Rows(), Seconds(line, final ? ended : now)), TerminalColumns());
      drawn = now;
      changed = false;
    }
  };
  auto readStation = [&](std::size_t i, bool toEnd) {
    StationProcess& station = stations[i];
    if (station.statusFd >= 0) {
      const bool open = station.status.ReadFrom(station.statusFd);
      while (auto text = station.status.Next()) line.OnStatusLine(i, *text, Clock::now());
      if (!open || toEnd) CloseFd(station.statusFd);
    }
    if (station.errorFd >= 0) {
      const bool open = station.errors.ReadFrom(station.errorFd);
      while (auto text = station.errors.Next()) {
        // A station's line per exchange (--verbose) is no error of its own.
        if (kvr::IsExchangeLine(*text))
          std::cerr << station.port << ": " << *text << '\n';
        else if (!text->empty())
          station.lastError = *text;
        if (station.log.is_open()) station.log << *text << '\n' << std::flush;
      }
      if (!open || toEnd) CloseFd(station.errorFd);
    }
  };

  while (!line.Ended()) {
    std::vector<pollfd> fds{{signals.Fd(), POLLIN, 0}};
    for (const StationProcess& station : stations)
      for (int fd : {station.statusFd, station.errorFd})
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
    // A simulator's output is kept for the end; read, it never fills its pipe.
    for (const Simulator& sim : sims)
      if (sim.outFd >= 0) fds.push_back({sim.outFd, POLLIN, 0});
    int timeout = -1;
    if (const auto deadline = line.NextDeadline())
      timeout = static_cast<int>(std::max<long long>(
          0,
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count() +
              1));
    if (terminal) timeout = timeout < 0 ? 250 : std::min(timeout, 250);
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;

    if (signals.TakeStop() && !line.Stopping()) {
      if (terminal && !quiet)
        table.PrintAbove("Stopping every station ...");
      else if (!quiet)
        std::cout << "Stopping every station ...\n";
      line.StopAll(Clock::now());
    }
    for (std::size_t i = 0; i < stations.size(); ++i) readStation(i, false);
    for (Simulator& sim : sims)
      if (sim.outFd >= 0 && !sim.out.ReadFrom(sim.outFd)) CloseFd(sim.outFd);
    // The ends, each after what its station wrote before it.
    for (;;) {
      int status = 0;
      const pid_t pid = ::waitpid(-1, &status, WNOHANG);
      if (pid <= 0) break;
      for (std::size_t i = 0; i < stations.size(); ++i) {
        if (stations[i].pid != pid) continue;
        stations[i].pid = -1;
        readStation(i, true);
        const ExitStatus exit = WIFSIGNALED(status) ? ExitStatus{true, WTERMSIG(status)}
                                                    : ExitStatus{false, WEXITSTATUS(status)};
        line.OnExit(i, exit, stations[i].lastError, Clock::now());
        ended = Clock::now();
      }
      for (Simulator& sim : sims)
        if (sim.pid == pid) sim.pid = -1;  // its writer's station finds out by itself
    }
    line.OnTick(Clock::now());
    report(false);
  }
  report(true);
  for (StationProcess& station : stations) {
    CloseFd(station.statusFd);
    CloseFd(station.errorFd);
  }
  StopSimulators(sims, signals);
  std::cout << SummaryLine(line.Rows(), Seconds(line, ended)) << '\n';
  return line.ExitCode();
}
