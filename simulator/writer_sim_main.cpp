// Serves the writer simulator on a pseudo-terminal until SIGINT or SIGTERM.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "command_line/exchange_line.h"
#include "simulator/offline_board_server.h"
#include "simulator/pty_server.h"
#include "simulator/writer_sim_options.h"

namespace {

using kvr::sim::Bytes;
using kvr::sim::Fault;
using kvr::sim::TargetChip;
using kvr::sim::WriteAck;
using kvr::sim::WriterConfig;

using kvr::sim::WriterSimOptions;

// The frame log's lines as they are written, each also told on standard error as a frame's
// code and length (-v).
class FrameSummary : public std::streambuf {
 public:
  explicit FrameSummary(std::ostream* log) : log_(log) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return 0;
    if (log_ != nullptr) log_->put(static_cast<char>(c));
    if (c != '\n') {
      line_ += static_cast<char>(c);
      return c;
    }
    std::istringstream hex(line_);
    std::vector<unsigned> bytes;
    for (unsigned byte = 0; hex >> std::hex >> byte;) bytes.push_back(byte);
    // The code follows the two length bytes, and the preamble where the frame has one.
    const std::size_t codeAt = !bytes.empty() && bytes[0] == 0x46 ? 5 : 3;
    if (bytes.size() > codeAt)
      std::cerr << kvr::ExchangeLine(static_cast<std::uint8_t>(bytes[codeAt]), bytes.size(),
                                     "received")
                << std::endl;
    line_.clear();
    return c;
  }
  int sync() override { return log_ != nullptr && !log_->flush() ? -1 : 0; }

 private:
  std::ostream* log_;
  std::string line_;
};

// The image file into the chip's flash from address 0; false with a message when it cannot be
// read or does not fit.
bool LoadFlashImage(const std::string& path, TargetChip& chip, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  // One byte more than fits is enough to know the file is too large, whatever it is.
  Bytes image(chip.FlashSize() + 1);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  image.resize(static_cast<std::size_t>(in.gcount()));
  if (!chip.Load(0, image)) {
    std::ostringstream text;
    text << path << " is larger than the flash (" << std::hex << std::uppercase << chip.FlashSize()
         << "h bytes)";
    *error = text.str();
    return false;
  }
  return true;
}

// Written beside the target and renamed over it, so a reader never sees half a dump. An empty
// flash only checks that the dump can be written there.
bool DumpFlash(const std::string& path, const Bytes* flash, std::string* error) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  bool ok = fd >= 0;
  for (std::size_t done = 0; ok && flash != nullptr && done < flash->size();) {
    const ssize_t n = write(fd, flash->data() + done, flash->size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  if (!ok) *error = "cannot write " + path + ": " + std::strerror(errno);
  if (fd >= 0 && close(fd) != 0 && ok) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (ok && flash != nullptr && rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ok = false;
  }
  if (fd >= 0 && (!ok || flash == nullptr)) unlink(temp.c_str());
  return ok;
}

// Replaces a stale symlink from an earlier run, never anything else.
bool CreateLink(const std::string& link, const std::string& target, std::string* error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = link + " exists and is not a symlink";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    *error = "cannot create " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  std::vector<char> buffer(target.size() + 2);
  const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
  // Only our own link: another run may have taken the name over.
  if (n >= 0 && std::string_view(buffer.data(), static_cast<std::size_t>(n)) == target) {
    unlink(link.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  WriterSimOptions parsed;
  kvr::CommandLine line = kvr::sim::WriterSimCommandLine(parsed);
  if (const auto result = line.Parse(std::vector<std::string>(argv + 1, argv + argc));
      result != kvr::CommandLine::Result::Run)
    return line.Report(result, std::cout, std::cerr);
  const WriterSimOptions* options = &parsed;
  std::string error;

  // Blocked before any thread exists, so only the waiter below ever takes these signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::ofstream frames;
  if (!options->framesPath.empty()) {
    frames.open(options->framesPath, std::ios::out | std::ios::trunc);
    if (!frames) {
      std::cerr << "kvr-writer-sim: cannot write " << options->framesPath << "\n";
      return 1;
    }
  }

  // Found out now rather than after a whole session.
  if (!options->dumpPath.empty() && !DumpFlash(options->dumpPath, nullptr, &error)) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }

  kvr::sim::PtyServer server(options->config);
  bool loaded = true;
  server.Access([&](kvr::sim::WriterSimulator& simulator) {
    TargetChip& chip = simulator.Chip();
    chip.SetFlashSize(options->flashSize);
    if (options->optionRegisters) {
      chip.SetOptions(options->optionRegisters->first, options->optionRegisters->second);
    }
    if (!options->flashImagePath.empty())
      loaded = LoadFlashImage(options->flashImagePath, chip, &error);
  });
  if (!loaded) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }
  if (!server.Open(&error)) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }
  if (!options->linkPath.empty() && !CreateLink(options->linkPath, server.DevicePath(), &error)) {
    std::cerr << "kvr-writer-sim: " << error << "\n";
    return 1;
  }
  FrameSummary summary(frames.is_open() ? &frames : nullptr);
  std::ostream summarised(&summary);
  std::ostream* frameLog = frames.is_open() ? &frames : nullptr;
  if (options->verbosity == kvr::Verbosity::Verbose) frameLog = &summarised;
  if (frameLog != nullptr) server.SetFrameLog(frameLog);
  std::shared_ptr<kvr::sim::OfflineBoard> board;
  if (options->board.enabled)
    board = kvr::sim::ServeOfflineBoard(server, options->board, options->config, frameLog);
  std::cout << server.DevicePath() << std::endl;

  std::atomic<bool> signalled = false;
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    signalled = true;
    server.Stop();
  });
  server.Serve();
  // Serve() may also end on a failing pseudo-terminal: wake the waiter then.
  if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();

  if (!options->linkPath.empty()) RemoveLink(options->linkPath, server.DevicePath());
  int status = 0;
  Bytes flash;
  kvr::sim::FaultRecord injected;
  server.Access([&](kvr::sim::WriterSimulator& simulator) {
    flash = simulator.Flash();
    injected = simulator.InjectedFaults();
  });
  if (injected.Total() > 0 && options->verbosity != kvr::Verbosity::Quiet) {
    std::cerr << "kvr-writer-sim: injected faults:";
    const char* separator = " ";
    for (std::size_t k = 0; k < kvr::sim::kFaultKinds; ++k) {
      if (injected.counts[k] == 0) continue;
      std::cerr << separator << kvr::sim::FaultName(static_cast<Fault>(k)) << ' '
                << injected.counts[k];
      separator = ", ";
    }
    std::cerr << "\n";
  }
  if (!options->dumpPath.empty()) {
    if (!DumpFlash(options->dumpPath, &flash, &error)) {
      std::cerr << "kvr-writer-sim: " << error << "\n";
      status = 1;
    }
  }
  if (const std::string failure = server.Error(); !failure.empty()) {
    std::cerr << "kvr-writer-sim: " << failure << "\n";
    return 1;
  }
  return status;
}
