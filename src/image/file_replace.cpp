#include "image/file_replace.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kvr {

namespace {

namespace fs = std::filesystem;

// A file of the operator's own may already carry the first name; it is left alone.
constexpr int kPartNames = 100;

fs::path PartName(const fs::path& target, int attempt) {
  fs::path part = target;
  part += attempt == 0 ? std::string(".part") : ".part" + std::to_string(attempt);
  return part;
}

#ifdef _WIN32

int CreateNew(const fs::path& path) {
  int fd = -1;
  const errno_t error = _wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                                  _SH_DENYRW, _S_IREAD | _S_IWRITE);
  if (error != 0) errno = error;
  return error == 0 ? fd : -1;
}

bool WriteAllAndSync(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int written = _write(fd, bytes.data(), chunk);
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return _commit(fd) == 0;
}

bool CloseFile(int fd) {
  return _close(fd) == 0;
}

bool RenameOver(const fs::path& from, const fs::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFile(const fs::path& path) {
  _wunlink(path.c_str());
}

#else

int CreateNew(const fs::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool WriteAllAndSync(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return ::fsync(fd) == 0;
}

bool CloseFile(int fd) {
  return ::close(fd) == 0;
}

bool RenameOver(const fs::path& from, const fs::path& to) {
  // rename() replaces an existing file in one step, and refuses a folder.
  std::error_code error;
  fs::rename(from, to, error);
  return !error;
}

void RemoveFile(const fs::path& path) {
  ::unlink(path.c_str());
}

#endif

}  // namespace

ReplaceResult WriteFileAtomically(const fs::path& target, std::span<const std::uint8_t> bytes) {
  std::error_code error;
  if (fs::is_directory(target, error)) return ReplaceResult::TargetIsFolder;
  for (int attempt = 0; attempt < kPartNames; ++attempt) {
    const fs::path part = PartName(target, attempt);
    const int fd = CreateNew(part);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return ReplaceResult::Failed;
    }
    bool written = WriteAllAndSync(fd, bytes);
    written = CloseFile(fd) && written;
    if (written && RenameOver(part, target)) return ReplaceResult::Written;
    RemoveFile(part);
    return ReplaceResult::Failed;
  }
  return ReplaceResult::Failed;
}

}  // namespace kvr
