#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace kvr::sim::test {

// Opens a pseudo-terminal slave the way a station would: raw, no controlling terminal.
inline int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads until `count` bytes came or none came for `timeoutMs`.
inline std::vector<std::uint8_t> ReadFor(int fd, std::size_t count, int timeoutMs = 5000) {
  std::vector<std::uint8_t> got;
  std::uint8_t buffer[256];
  pollfd p{fd, POLLIN, 0};
  while (got.size() < count && poll(&p, 1, timeoutMs) > 0) {
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

inline bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

}  // namespace kvr::sim::test
