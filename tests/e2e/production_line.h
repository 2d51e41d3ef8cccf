#pragma once

// A production line in processes: kvr-writer-sim at full speed, the numbers its frames carried to
// the chips, the serial numbers of a JSON Lines report, and stations killed at random.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/processes.h"
#include "support/intel_hex.h"

namespace kvr::test {

inline constexpr int kSerialAddress = 0xFF;
inline constexpr int kSerialBytes = 3;
// The writer at full speed: a chip in a few milliseconds, so a few hundred take seconds. (No
// blank check: its result would follow its acknowledge so closely that both could arrive in one
// read, which the station does not expect of a writer.)
inline const QStringList kFastWriter = {"--erase-ms",   "1", "--write-us", "100",
                                        "--latency-us", "50"};

// A 256-byte image as Intel HEX.
inline void WriteHex(const QString& path) {
  std::string image(256, '\0');
  for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<char>(a * 7 + 3);
  WriteFile(path, IntelHex(image));
}

// The numbers the writer's frames carried to the serial-number address, one list per session
// (a session begins with the handshake); a block sent again within a session carries its
// number again.
inline std::vector<std::set<std::string>> StampedNumbers(const QString& framesFile) {
  std::vector<std::set<std::string>> sessions;
  std::istringstream lines(ReadFile(framesFile));
  bool inHandshake = false;
  for (std::string line; std::getline(lines, line);) {
    std::vector<unsigned> f;
    std::istringstream hex(line);
    for (unsigned byte = 0; hex >> std::hex >> byte;) f.push_back(byte);
    if (f.size() >= 2 && f[0] == 0x46 && f[1] == 0xB9) f.erase(f.begin(), f.begin() + 2);
    if (f.size() < 4 || f[0] != 0x6A) continue;
    const bool handshake = f[3] == 0x80;
    if (handshake && !inHandshake) sessions.emplace_back();
    inHandshake = handshake;
    if (f.size() < 12 || (f[3] != 0x03 && f[3] != 0x04) || sessions.empty()) continue;
    const unsigned address = f[4] << 24 | f[5] << 16 | f[6] << 8 | f[7];
    const unsigned count = f[8] << 8 | f[9];
    const unsigned first = kSerialAddress - (kSerialBytes - 1);
    if (address > first || address + count <= kSerialAddress || f.size() < 10 + count) continue;
    std::string number;
    for (unsigned a = first; a <= kSerialAddress; ++a) {
      char digits[4];
      std::snprintf(digits, sizeof digits, "%02X", f[10 + a - address]);
      number += digits;
    }
    sessions.back().insert(number);
  }
  return sessions;
}

// "result" -> the serial numbers of the report's records with that result.
inline std::map<std::string, std::vector<std::string>> ReportSerialsOf(const std::string& text) {
  std::map<std::string, std::vector<std::string>> serials;
  std::istringstream lines(text);
  auto field = [](const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const std::size_t at = line.find(key);
    if (at == std::string::npos) return std::string("<none>");
    const std::size_t start = at + key.size();
    return line.substr(start, line.find('"', start) - start);
  };
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.starts_with("{\"time\":") && line.ends_with("}")) << line;
    serials[field(line, "result")].push_back(field(line, "serial"));
  }
  return serials;
}

inline std::map<std::string, std::vector<std::string>> ReportSerials(const QString& report) {
  return ReportSerialsOf(ReadFile(report));
}

// Kills the station after `lines` lines of its log: anywhere in a chip, between chips, while
// it reserves a number or counts a chip. The lines it printed go into `seen` when given.
inline bool KillAfter(QProcess& cli, int lines, std::string* seen = nullptr) {
  for (int read = 0; read < lines && cli.waitForReadyRead(10000);)
    while (read < lines && cli.canReadLine()) {
      const QByteArray line = cli.readLine();
      if (seen != nullptr) seen->append(line.constData(), static_cast<std::size_t>(line.size()));
      ++read;
    }
  // A station that ended on its own is a failure, and it has no process id any more: kill(0)
  // would end the test's own process group instead.
  const qint64 pid = cli.processId();
  if (pid <= 0) {
    std::fprintf(stderr, "the station ended on its own: %s\n",
                 cli.readAllStandardError().toStdString().c_str());
    return false;
  }
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  return cli.waitForFinished(10000);
}

}  // namespace kvr::test
