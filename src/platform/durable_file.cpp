#include "platform/durable_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// The system's own ReplaceFile is a macro that would rename ours to ReplaceFileA.
#undef ReplaceFile
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvr {

namespace {

namespace fs = std::filesystem;

// As many links as the system itself follows before it calls it a loop.
constexpr int kMostLinks = 40;
// A file of the operator's own may already carry the first name; it is left alone.
constexpr int kPartNames = 100;

FileOutcome Failed(std::string reason) {
  return {FileRefusal::Failed, std::move(reason)};
}

// The refusal of a file of this type; none for a regular file or one that is not there.
FileOutcome KindRefusal(fs::file_type type) {
  switch (type) {
    case fs::file_type::regular:
    case fs::file_type::not_found:
      return {};
    case fs::file_type::directory:
      return {FileRefusal::Folder, "it is a folder"};
    case fs::file_type::fifo:
      return {FileRefusal::NotRegular, "it is a FIFO"};
    case fs::file_type::character:
    case fs::file_type::block:
      return {FileRefusal::NotRegular, "it is a device"};
    case fs::file_type::socket:
      return {FileRefusal::NotRegular, "it is a socket"};
    default:
      return {FileRefusal::NotRegular, "it is not a regular file"};
  }
}

#ifdef _WIN32
// Names Windows keeps for its devices (NUL, CON, COM1, LPT1, ...) stand for the device in any
// folder and with any extension: "COM1.bin" is the serial port. The C library calls them
// missing; the system's full name of one is the device's own, "\\.\COM1".
bool IsDeviceName(const fs::path& name) {
  const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  if (GetFullPathNameW(name.c_str(), length, full.data(), nullptr) == 0) return false;
  return full.rfind(L"\\\\.\\", 0) == 0;
}
#endif

// The type of the file a name stands for, links followed; a failure to find out is a refusal.
fs::file_type TypeOf(const fs::path& name, FileOutcome& outcome) {
#ifdef _WIN32
  // Refused before anything opens it: opening a serial port alone can reset what hangs on it.
  if (IsDeviceName(name)) {
    outcome = KindRefusal(fs::file_type::character);
    return fs::file_type::character;
  }
#endif
  std::error_code error;
  const fs::file_status status = fs::status(name, error);
  if (status.type() == fs::file_type::not_found) return fs::file_type::not_found;
  if (error) {
    outcome = Failed(error.message());
    return fs::file_type::none;
  }
  outcome = KindRefusal(status.type());
  return status.type();
}

fs::path PartName(const fs::path& target, int attempt) {
  fs::path part = target;
  part += attempt == 0 ? std::string(".part") : ".part" + std::to_string(attempt);
  return part;
}

#ifdef _WIN32

std::string SystemError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t FromHandle(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

bool LockWhole(HANDLE handle) {
  OVERLAPPED whole{};
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

FileOutcome ReadOpened(const fs::path& file, std::size_t limit, std::string& content) {
  // Shared for deleting too: another station may rename its new settings file over this one
  // while it is read, as it may on POSIX. The C library's open would make that rename fail.
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failed(SystemError());
  LARGE_INTEGER size{};
  FileOutcome outcome;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    outcome = {FileRefusal::NotRegular, "it is not a regular file"};
  } else if (!GetFileSizeEx(handle, &size)) {
    outcome = Failed(SystemError());
  } else if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
    outcome = {FileRefusal::TooLarge, "it is too long"};
  }
  char chunk[65536];
  while (outcome.Done()) {
    DWORD n = 0;
    if (!ReadFile(handle, chunk, sizeof chunk, &n, nullptr)) outcome = Failed(SystemError());
    if (n == 0) break;
    content.append(chunk, n);
    if (content.size() > limit) outcome = {FileRefusal::TooLarge, "it is too long"};
  }
  CloseHandle(handle);
  return outcome;
}

// Windows renames over no file that is open, not even one opened for sharing its deletion as
// ReadOpened does: another station reading the settings holds it for a moment, so the rename is
// tried again, for a second at most (a program that keeps the file open fails it).
bool RenameOver(const fs::path& from, const fs::path& to) {
  constexpr int kAttempts = 100;
  constexpr DWORD kPauseMs = 10;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    const DWORD error = GetLastError();
    if (attempt == kAttempts || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
      return false;
    Sleep(kPauseMs);
  }
}

// Written beside the file, flushed to the disk, then renamed over it.
FileOutcome WriteAndRename(const fs::path& target, const fs::path& temp, std::string_view bytes,
                           bool& nameTaken) {
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    nameTaken = GetLastError() == ERROR_FILE_EXISTS;
    return Failed(SystemError());
  }
  const bool whole = WriteAll(file, bytes) && FlushFileBuffers(file);
  FileOutcome outcome = whole ? FileOutcome{} : Failed(SystemError());
  CloseHandle(file);
  if (whole && !RenameOver(temp, target)) outcome = Failed(SystemError());
  if (!outcome.Done()) DeleteFileW(temp.c_str());
  return outcome;
}

#else

std::string SystemError() {
  return std::strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

FileOutcome ReadOpened(const fs::path& file, std::size_t limit, std::string& content) {
  // Without blocking: were the file swapped for a FIFO since it was looked at, the open returns.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Failed(SystemError());
  struct stat status {};
  FileOutcome outcome;
  if (::fstat(fd, &status) != 0) {
    outcome = Failed(SystemError());
  } else if (!S_ISREG(status.st_mode)) {
    outcome = {FileRefusal::NotRegular, "it is not a regular file"};
  } else if (static_cast<std::uint64_t>(status.st_size) > limit) {
    outcome = {FileRefusal::TooLarge, "it is too long"};
  }
  char chunk[65536];
  while (outcome.Done()) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) outcome = Failed(SystemError());
    if (n <= 0) break;
    content.append(chunk, static_cast<std::size_t>(n));
    if (content.size() > limit) outcome = {FileRefusal::TooLarge, "it is too long"};
  }
  ::close(fd);
  return outcome;
}

// Written beside the file with the file's permissions, synced, renamed over it, and the rename
// synced too: after a power cut the file is the old one or the new one.
FileOutcome WriteAndRename(const fs::path& target, const fs::path& temp, std::string_view bytes,
                           bool& nameTaken) {
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    nameTaken = errno == EEXIST;
    return Failed(SystemError());
  }
  // The file keeps who may read it, whatever this process's umask.
  bool whole = (!existed || ::fchmod(fd, mode) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  FileOutcome outcome = whole ? FileOutcome{} : Failed(SystemError());
  if (::close(fd) != 0 && whole) {
    whole = false;
    outcome = Failed(SystemError());
  }
  if (whole && ::rename(temp.c_str(), target.c_str()) != 0) {
    whole = false;
    outcome = Failed(SystemError());
  }
  if (!whole) {
    ::unlink(temp.c_str());
    return outcome;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

#endif

}  // namespace

fs::path ResolveLinks(const fs::path& name) {
  fs::path path = name;
  for (int hop = 0; hop < kMostLinks; ++hop) {
    std::error_code error;
    if (!fs::is_symlink(path, error)) return path;
    const fs::path target = fs::read_symlink(path, error);
    if (error) return path;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

FileOutcome CheckWritable(const fs::path& resolved) {
  FileOutcome outcome;
  const fs::file_type type = TypeOf(resolved, outcome);
  if (!outcome.Done() || type == fs::file_type::not_found) return outcome;
  std::error_code error;
  constexpr fs::perms kWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  bool readOnly = (fs::status(resolved, error).permissions() & kWrite) == fs::perms::none;
#ifndef _WIN32
  // Also where the system says no: another owner's file, a read-only file system.
  if (!readOnly && ::access(resolved.c_str(), W_OK) != 0)
    readOnly = errno == EACCES || errno == EROFS || errno == EPERM;
#endif
  if (readOnly) return {FileRefusal::ReadOnly, "it is read-only"};
  return {};
}

FileOutcome ReadWholeFile(const fs::path& name, std::size_t limit, std::string& content,
                          bool* missing) {
  content.clear();
  if (missing != nullptr) *missing = false;
  FileOutcome outcome;
  const fs::file_type type = TypeOf(name, outcome);
  if (type == fs::file_type::not_found) {
    if (missing != nullptr) *missing = true;
    return {};
  }
  if (!outcome.Done()) return outcome;
  outcome = ReadOpened(name, limit, content);
  if (!outcome.Done()) content.clear();
  return outcome;
}

FileOutcome ReplaceFile(const fs::path& name, std::string_view bytes, TempName temp) {
  const fs::path target = ResolveLinks(name);
  if (FileOutcome refused = CheckWritable(target); !refused.Done()) return refused;
  if (temp == TempName::Locked) {
    fs::path own = target;
    own += ".new";
    std::error_code ignored;
    fs::remove(own, ignored);
    bool taken = false;
    return WriteAndRename(target, own, bytes, taken);
  }
  for (int attempt = 0; attempt < kPartNames; ++attempt) {
    bool taken = false;
    FileOutcome outcome = WriteAndRename(target, PartName(target, attempt), bytes, taken);
    if (!taken) return outcome;
  }
  return Failed("no free name for the new file beside it");
}

// ---- Lock ----

#ifdef _WIN32

FileLock::FileLock(const fs::path& resolved) {
  fs::path path = resolved;
  path += ".lck";
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error_ = SystemError();
    return;
  }
  if (!LockWhole(handle)) {
    error_ = SystemError();
    CloseHandle(handle);
    return;
  }
  handle_ = FromHandle(handle);
}

FileLock::~FileLock() {
  if (Held()) CloseHandle(AsHandle(handle_));
}

bool FileLock::Held() const {
  return handle_ != FromHandle(INVALID_HANDLE_VALUE);
}

#else

FileLock::FileLock(const fs::path& resolved) {
  fs::path path = resolved;
  path += ".lck";
  // flock, not the mere existence of a lock file: the kernel drops the lock with the last
  // descriptor of its holder.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = SystemError();
    return;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error_ = "it is not a regular file";
    ::close(fd);
    return;
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    error_ = SystemError();
    ::close(fd);
    return;
  }
  handle_ = fd;
}

FileLock::~FileLock() {
  if (Held()) ::close(static_cast<int>(handle_));
}

bool FileLock::Held() const {
  return handle_ >= 0;
}

#endif

// ---- Appending ----

#ifdef _WIN32

AppendFile::AppendFile(const fs::path& name) {
  const fs::path file = ResolveLinks(name);
  opened_ = CheckWritable(file);
  if (!opened_.Done()) return;
  HANDLE handle =
      CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    opened_ = Failed(SystemError());
    return;
  }
  LARGE_INTEGER size{};
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    opened_ = {FileRefusal::NotRegular, "it is not a regular file"};
  } else if (!LockWhole(handle) || !GetFileSizeEx(handle, &size)) {
    opened_ = Failed(SystemError());
  }
  if (!opened_.Done()) {
    CloseHandle(handle);
    return;
  }
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  handle_ = FromHandle(handle);
}

AppendFile::~AppendFile() {
  if (handle_ != FromHandle(INVALID_HANDLE_VALUE)) CloseHandle(AsHandle(handle_));
}

FileOutcome AppendFile::Append(std::string_view text) {
  if (!opened_.Done()) return opened_;
  HANDLE file = AsHandle(handle_);
  std::string whole;
  LARGE_INTEGER at{};
  if (size_ > 0) {
    at.QuadPart = static_cast<LONGLONG>(size_ - 1);
    char last = '\n';
    DWORD read = 0;
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
        ReadFile(file, &last, 1, &read, nullptr) && read == 1 && last != '\n')
      whole = "\n";
  }
  whole.append(text);
  at.QuadPart = static_cast<LONGLONG>(size_);
  const bool written = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && WriteAll(file, whole) &&
                       FlushFileBuffers(file);
  if (!written) {
    const std::string reason = SystemError();
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    FlushFileBuffers(file);
    return Failed(reason);
  }
  size_ += whole.size();
  return {};
}

#else

AppendFile::AppendFile(const fs::path& name) {
  const fs::path file = ResolveLinks(name);
  opened_ = CheckWritable(file);
  if (!opened_.Done()) return;
  // Read access too, to see how the last line ends; without blocking, and never as a terminal.
  constexpr int kFlags = O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(file.c_str(), O_RDWR | kFlags, 0666);
  if (fd < 0 && errno == EACCES) fd = ::open(file.c_str(), O_WRONLY | kFlags, 0666);
  if (fd < 0) {
    opened_ = errno == EACCES || errno == EROFS ? FileOutcome{FileRefusal::ReadOnly, SystemError()}
                                                : Failed(SystemError());
    return;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    opened_ = Failed(SystemError());
  } else if (!S_ISREG(status.st_mode)) {
    opened_ = {FileRefusal::NotRegular, "it is not a regular file"};
  } else {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // What others appended while this one waited for its turn counts.
    if (::fstat(fd, &status) != 0) opened_ = Failed(SystemError());
  }
  if (!opened_.Done()) {
    ::close(fd);
    return;
  }
  size_ = static_cast<std::uint64_t>(status.st_size);
  handle_ = fd;
}

AppendFile::~AppendFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // also releases the lock
}

FileOutcome AppendFile::Append(std::string_view text) {
  if (!opened_.Done()) return opened_;
  const int fd = static_cast<int>(handle_);
  std::string whole;
  char last = '\n';
  if (size_ > 0 && ::pread(fd, &last, 1, static_cast<off_t>(size_ - 1)) == 1 && last != '\n')
    whole = "\n";
  whole.append(text);
  if (WriteAll(fd, whole) && ::fsync(fd) == 0) {
    size_ += whole.size();
    return {};
  }
  const std::string reason = SystemError();
  // Whatever part reached the file goes again: the next record starts where this one would have.
  while (::ftruncate(fd, static_cast<off_t>(size_)) != 0 && errno == EINTR) {
  }
  ::fsync(fd);
  return Failed(reason);
}

#endif

}  // namespace kvr
