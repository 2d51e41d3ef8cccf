#include "s51_demo.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "support/intel_hex.h"

namespace kvr::isp::test {

namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// An erase fills the 512-byte sector of the flash address with FFh, one expression for all.
std::string EraseExpression() {
  std::string text = "expr ";
  for (int i = 0; i < 512; ++i) text += (i ? "," : "") + ("rom[fa+" + std::to_string(i) + "]=255");
  return text;
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::string S51Demo::Find() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/s51";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

S51Demo::~S51Demo() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {commandFd_, consoleFd_, uartIn_, uartOut_})
    if (fd >= 0) close(fd);
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

bool S51Demo::Start(const ImageBufferArray& buffer, std::int32_t base, Watch watch,
                    std::string& error) {
  const std::string s51 = Find();
  char dirTemplate[] = "/tmp/kvr-s51-XXXXXX";
  if (s51.empty() || !mkdtemp(dirTemplate)) {
    error = "s51 or a temporary directory is missing";
    return false;
  }
  dir_ = dirTemplate;
  // The 1 K demo, as s51 loads it.
  const std::string demo(buffer.Bytes().begin() + base, buffer.Bytes().begin() + base + 1024);
  std::ofstream(dir_ + "/demo.ihx") << kvr::test::IntelHex(demo, static_cast<unsigned>(base), "\n");
  const std::string in = dir_ + "/uart-in", out = dir_ + "/uart-out";
  if (mkfifo(in.c_str(), 0600) != 0 || mkfifo(out.c_str(), 0600) != 0) {
    error = "cannot make the FIFOs";
    return false;
  }
  // Both ends opened read-write here, so that neither open blocks the simulator.
  uartIn_ = open(in.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  uartOut_ = open(out.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  int commands[2], console[2];
  if (uartIn_ < 0 || uartOut_ < 0 || pipe2(commands, O_CLOEXEC) != 0 ||
      pipe2(console, O_CLOEXEC) != 0) {
    error = "cannot open the FIFOs or pipes";
    return false;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(commands[0], 0);
    dup2(console[1], 1);
    dup2(console[1], 2);
    const std::string serial = "in=" + in + ",out=" + out;
    execl(s51.c_str(), "s51", "-q", "-P", "-t", "52", "-X", "11.0592M", "-S", serial.c_str(),
          (dir_ + "/demo.ihx").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(commands[0]);
  close(console[1]);
  commandFd_ = commands[1];
  consoleFd_ = console[0];
  fcntl(consoleFd_, F_SETFL, O_NONBLOCK);

  char pc[32];
  std::snprintf(pc, sizeof pc, "pc 0x%x", static_cast<unsigned>(base));
  std::vector<std::string> setup = {
      "set console interactive on",
      "expr uart0_check_often=1",
      "var fa",
      "break sfr w 0xe6 1 if \"sfr[0xe6]==0x5a&&sfr[0xe5]==3\"",
      "commands 1 dump sfr 0xe2 0xe7;expr fa=(sfr[0xe3]&254)*256;" + EraseExpression() + ";go",
      "break sfr w 0xe6 1 if \"sfr[0xe6]==0x5a&&sfr[0xe5]==2\"",
      "commands 2 dump sfr 0xe2 0xe7;expr rom[sfr[0xe3]*256+sfr[0xe4]]&=sfr[0xe2];go",
  };
  int next = 3;
  auto watchWith = [&](const std::string& breakpoint, const std::string& script) {
    setup.push_back(breakpoint);
    setup.push_back("commands " + std::to_string(next++) + " " + script + ";go");
  };
  // Each byte sent; with the direction pin watched, each byte and each pin write tell the time.
  if (watch.sent) {
    watchWith("break sfr w 0x99", std::string("dump sfr 0xc8 0xcd;dump sfr 0x98 0x98;dump sfr "
                                              "0xe0 0xe0") +
                                      (watch.port3 ? ";state" : ""));
  }
  // The ninth bit of a received byte is even parity; a received EEh gets it wrong on purpose.
  if (watch.parity)
    watchWith("break sfr r 0x99",
              "expr sfr[0x98]=(sfr[0x98]&0xfb)|(((sfr[0xd0]&1)^(sfr[0xe0]==0xee))<<2)");
  // Bit instructions on a port are writes of the bit, not of the register.
  // The feeds come about every millisecond: a stop at each slows the simulation down.
  if (watch.feed) watchWith("break bits w 0x97", "dump sfr 0x90 0x90");
  if (watch.port1) watchWith("break sfr w 0x90", "dump sfr 0x90 0x90");
  if (watch.port3) {
    watchWith("break bits w 0xb5", "dump sfr 0xb0 0xb0;state");
    // The demo clearing TI: it has seen the last bit but the stop bit begin to leave.
    watchWith("break bits w 0x99", "dump sfr 0x99 0x99;state");
  }
  setup.push_back(pc);
  for (const std::string& command : setup)
    if (!Command(command, error)) return false;
  const std::string go = "go\n";
  WriteAll(commandFd_, reinterpret_cast<const std::uint8_t*>(go.data()), go.size());
  return true;
}

bool S51Demo::Command(const std::string& command, std::string& error) {
  const std::string line = command + "\n";
  WriteAll(commandFd_, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
  bool prompt = false;
  Loop(5000, [&] {
    const auto at = console_.find('\0');
    if (at == std::string::npos) return false;
    console_.erase(0, at + 1);
    prompt = true;
    return true;
  });
  if (!prompt) error = "s51 did not take '" + command.substr(0, 60) + "': " + console_;
  return prompt;
}

void S51Demo::ParseConsole() {
  std::size_t end;
  while ((end = console_.find('\n')) != std::string::npos) {
    std::string line = console_.substr(0, end);
    console_.erase(0, end + 1);
    std::erase(line, '\0');
    std::istringstream words(line);
    std::string first;
    words >> first;
    // "Total time since last reset= 0.001 sec (11059 clks)": the time of the event before.
    if (first == "Total" && !events_.empty()) {
      const auto open = line.rfind('(');
      if (open != std::string::npos) events_.back().clks = std::atoll(line.c_str() + open + 1);
      continue;
    }
    // Only the dumps of the scripts. A register with a name has a line of its own
    // ("0x98 SCON:  0b01010000 0x50 'P'  80"), one without shares a row ("0xe2  ff 00 ...").
    if (first.size() != 4 || first.rfind("0x", 0) != 0) continue;
    auto hex = [](const std::string& text) {
      return text.size() == 2 && std::isxdigit(static_cast<unsigned char>(text[0])) &&
                     std::isxdigit(static_cast<unsigned char>(text[1]))
                 ? std::stoi(text, nullptr, 16)
                 : -1;
    };
    const int reg = hex(first.substr(2));
    std::string word;
    std::vector<std::uint8_t> values;
    if (!(words >> word) || reg < 0) continue;
    if (word.back() == ':') {
      while (words >> word && word.rfind("0x", 0) != 0) {
      }
      if (hex(word.substr(2)) < 0) continue;
      values.push_back(static_cast<std::uint8_t>(hex(word.substr(2))));
    } else {
      do {
        if (hex(word) < 0) break;
        values.push_back(static_cast<std::uint8_t>(hex(word)));
      } while (values.size() < 6 && words >> word);
    }
    if (values.empty()) continue;
    // T2CON to TH2 make one event, and SCON with the byte being sent (in A: reading SBUF
    // would give the receive buffer).
    if (!events_.empty()) {
      Event& last = events_.back();
      const bool timer =
          reg > 0xc8 && reg <= 0xcd && last.reg + static_cast<int>(last.values.size()) == reg;
      if (timer || (reg == 0xe0 && last.reg == 0x98 && last.values.size() == 1)) {
        last.values.push_back(values[0]);
        continue;
      }
    }
    events_.push_back({reg, values});
  }
}

void S51Demo::Loop(int ms, const std::function<bool()>& done, int ptyMaster, int childOut,
                   std::string* childText) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  std::uint8_t buffer[4096];
  while (!done()) {
    std::vector<pollfd> fds = {{consoleFd_, POLLIN, 0}, {uartOut_, POLLIN, 0}};
    if (ptyMaster >= 0) fds.push_back({ptyMaster, POLLIN, 0});
    if (childOut >= 0) fds.push_back({childOut, POLLIN, 0});
    const int wait = Remaining(end);
    if (poll(fds.data(), fds.size(), wait) <= 0 && wait == 0) return;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(consoleFd_, buffer, sizeof buffer);
      if (n > 0) console_.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
      // Command() looks for the prompt itself; script output is read line by line.
      if (console_.find('\0') == std::string::npos) ParseConsole();
    }
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(uartOut_, buffer, sizeof buffer);
      if (n > 0) {
        if (ptyMaster >= 0)
          WriteAll(ptyMaster, buffer, static_cast<std::size_t>(n));
        else
          received_.insert(received_.end(), buffer, buffer + n);
      }
    }
    if (ptyMaster >= 0 && (fds[2].revents & POLLIN)) {
      const ssize_t n = read(ptyMaster, buffer, sizeof buffer);
      if (n > 0) WriteAll(uartIn_, buffer, static_cast<std::size_t>(n));
    }
    if (childOut >= 0) {
      const pollfd& child = fds.back();
      if (child.revents & (POLLIN | POLLHUP)) {
        const ssize_t n = read(childOut, buffer, sizeof buffer);
        if (n <= 0) return;  // the child closed its output: it has ended
        childText->append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
      }
    }
  }
}

Bytes S51Demo::Exchange(const Bytes& request, int timeoutMs) {
  received_.clear();
  WriteAll(uartIn_, request.data(), request.size());
  AnswerParser parser;
  std::size_t fed = 0;
  bool whole = false;
  Loop(timeoutMs, [&] {
    for (; fed < received_.size() && !whole; ++fed)
      whole = parser.Feed(received_[fed]) != AnswerParser::Outcome::Incomplete;
    return whole;
  });
  // Script output printed together with the last byte still belongs to this exchange.
  Loop(50, [] { return false; });
  return received_;
}

bool S51Demo::RunUntil(const std::function<bool(const std::vector<Event>&)>& done, int timeoutMs) {
  bool reached = false;
  Loop(timeoutMs, [&] { return reached = done(events_); });
  return reached;
}

std::string S51Demo::RelayWhile(int ptyMaster, int childStdout, int timeoutMs) {
  std::string text;
  Loop(
      timeoutMs, [] { return false; }, ptyMaster, childStdout, &text);
  return text;
}

std::vector<S51Demo::Event> S51Demo::TakeEvents() {
  ParseConsole();
  return std::exchange(events_, {});
}

}  // namespace kvr::isp::test
