#include "platform/qt/port_diagnosis.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#ifdef __linux__
#include <grp.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace kvr {

#ifdef __linux__
namespace {

namespace fs = std::filesystem;

bool IsNumber(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool IsPtySlave(dev_t rdev) {
  const unsigned kind = major(rdev);
  return kind >= UNIX98_PTY_SLAVE_MAJOR && kind < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT;
}

// The pseudo-terminal index whose master side the descriptor described by `fdinfo` holds, or -1.
long MasterIndex(const fs::path& fdinfo) {
  std::ifstream in(fdinfo);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("tty-index:", 0) == 0) return std::strtol(line.c_str() + 10, nullptr, 10);
  return -1;
}

// The first process with the character device `rdev` open, from the links in /proc/*/fd. The
// program at the far end of a pseudo-terminal (it holds the master side, and often the device
// too) is the writer, not a program in the way.
void FindHolder(dev_t rdev, OpenFailure& failure) {
  const long ptyIndex =
      IsPtySlave(rdev)
          ? static_cast<long>((major(rdev) - UNIX98_PTY_SLAVE_MAJOR) * 256 + minor(rdev))
          : -1;
  const dev_t ptmx = makedev(TTYAUX_MAJOR, 2);
  std::error_code error;
  for (fs::directory_iterator process("/proc", error), end; !error && process != end;
       process.increment(error)) {
    const std::string pid = process->path().filename().string();
    if (!IsNumber(pid)) continue;
    bool holds = false;
    bool farEnd = false;
    std::error_code fdError;
    for (fs::directory_iterator fd(process->path() / "fd", fdError); !fdError && fd != end;
         fd.increment(fdError)) {
      struct stat target {};
      if (stat(fd->path().c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) continue;
      if (target.st_rdev == rdev)
        holds = true;
      else if (ptyIndex >= 0 && target.st_rdev == ptmx &&
               MasterIndex(process->path() / "fdinfo" / fd->path().filename()) == ptyIndex)
        farEnd = true;
    }
    if (!holds || farEnd) continue;
    std::ifstream comm(process->path() / "comm");
    std::getline(comm, failure.holder);
    if (failure.holder.empty()) failure.holder = "?";
    failure.holderPid = std::stoi(pid);
    return;
  }
}

// The group that owns the device, and whether the user database lists this user in it already
// (the groups of this login may be older than that).
void DescribeGroup(gid_t gid, OpenFailure& failure) {
  std::vector<char> groupBuffer(65536);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, groupBuffer.data(), groupBuffer.size(), &found) != 0 ||
      found == nullptr)
    return;
  failure.group = found->gr_name;
  std::vector<char> userBuffer(16384);
  passwd user{};
  passwd* foundUser = nullptr;
  if (getpwuid_r(getuid(), &user, userBuffer.data(), userBuffer.size(), &foundUser) != 0 ||
      foundUser == nullptr)
    return;
  failure.listedInGroup = foundUser->pw_gid == gid;
  for (char** member = found->gr_mem; *member != nullptr && !failure.listedInGroup; ++member)
    failure.listedInGroup = std::strcmp(foundUser->pw_name, *member) == 0;
}

}  // namespace

OpenFailure ExplainOpenFailure(const std::string& device, OpenRefusal refusal,
                               const std::string& systemText) {
  OpenFailure failure;
  failure.device = device;
  struct stat node {};
  if (stat(device.c_str(), &node) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || refusal == OpenRefusal::NotFound) {
      failure.cause = OpenFailure::Cause::Missing;
    } else {
      failure.detail = std::strerror(errno);
    }
    return failure;
  }
  if (access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
    failure.cause = OpenFailure::Cause::NoPermission;
    // Only a group that may read and write the device lets its members in.
    if ((node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
      DescribeGroup(node.st_gid, failure);
    return failure;
  }
  if (refusal != OpenRefusal::Other && S_ISCHR(node.st_mode)) {
    failure.cause = OpenFailure::Cause::InUse;
    FindHolder(node.st_rdev, failure);
    return failure;
  }
  failure.detail = systemText;
  return failure;
}

bool RemoveStaleLock(const std::string& device) {
  struct stat node {};
  if (stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return false;
  OpenFailure holder;
  FindHolder(node.st_rdev, holder);
  if (holder.holderPid != 0) return false;
  // The library's name for the port: the path below /dev, its slashes as underscores.
  std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
  std::replace(name.begin(), name.end(), '/', '_');
  // The folders the library looks in, in its order; it takes the first that holds the file.
  for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                             "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
    const std::string lock = std::string(folder) + "/LCK.." + name;
    struct stat file {};
    if (lstat(lock.c_str(), &file) != 0) continue;
    // A lock made a moment ago belongs to a station that is opening the port right now.
    if (!S_ISREG(file.st_mode) || time(nullptr) - file.st_mtime < 2) return false;
    return unlink(lock.c_str()) == 0;
  }
  return false;
}

std::string RequestLowLatency(int fd) {
  struct stat node {};
  if (fstat(fd, &node) == 0 && S_ISCHR(node.st_mode) && IsPtySlave(node.st_rdev)) return {};
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::strerror(errno);
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return {};
  serial.flags |= ASYNC_LOW_LATENCY;
  if (ioctl(fd, TIOCSSERIAL, &serial) != 0) return std::strerror(errno);
  return {};
}

#else

OpenFailure ExplainOpenFailure(const std::string& device, OpenRefusal refusal,
                               const std::string& systemText) {
  OpenFailure failure;
  failure.device = device;
  // Elsewhere a port that refuses access is one that another program holds.
  if (refusal == OpenRefusal::NotFound)
    failure.cause = OpenFailure::Cause::Missing;
  else if (refusal == OpenRefusal::Denied)
    failure.cause = OpenFailure::Cause::InUse;
  else
    failure.detail = systemText;
  return failure;
}

bool RemoveStaleLock(const std::string&) {
  return false;
}

std::string RequestLowLatency(int) {
  return {};
}

#endif

}  // namespace kvr
