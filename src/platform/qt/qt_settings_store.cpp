#include "platform/qt/qt_settings_store.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/ini_document.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvr {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32

constexpr std::string_view kLineEnd = "\r\n";

std::string SystemError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

// A lock the system releases with the handle, also when its process dies.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const fs::path& path) {
    handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
      error_ = SystemError();
      return;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      error_ = SystemError();
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }
  ~ExclusiveLock() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
  const std::string& Error() const { return error_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::string error_;
};

// Written beside the file, flushed to the disk, then renamed over it.
bool ReplaceWhole(const fs::path& path, const std::string& content, std::string* error) {
  fs::path temp = path;
  temp += ".new";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemError();
    return false;
  }
  DWORD written = 0;
  const bool whole =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
      written == content.size() && FlushFileBuffers(file);
  if (!whole) *error = SystemError();
  CloseHandle(file);
  if (whole &&
      MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  if (whole) *error = SystemError();
  DeleteFileW(temp.c_str());
  return false;
}

fs::path ToPath(const QString& file) {
  return fs::path(file.toStdWString());
}

#else

constexpr std::string_view kLineEnd = "\n";

// flock, not the mere existence of a lock file: the kernel drops the lock with the last
// descriptor of its holder, so a station killed while holding it never holds up the others.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const fs::path& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      error_ = std::strerror(errno);
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error_ = std::strerror(errno);
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
  ~ExclusiveLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  bool Held() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

bool WriteAll(int fd, const std::string& content) {
  for (std::size_t done = 0; done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Written beside the file, synced, renamed over it, and the rename synced too: after a power
// cut the file is the old one or the new one, and a number stored is not lost.
bool ReplaceWhole(const fs::path& path, const std::string& content, std::string* error) {
  fs::path temp = path;
  temp += ".new";
  // Only the lock holder writes it: one found here was left by a writer cut off.
  ::unlink(temp.c_str());
  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  // The file keeps who may read it, whatever this process's umask.
  bool whole = (!existed || ::fchmod(fd, mode) == 0) && WriteAll(fd, content) && ::fsync(fd) == 0;
  if (!whole) *error = std::strerror(errno);
  if (::close(fd) != 0 && whole) {
    whole = false;
    *error = std::strerror(errno);
  }
  if (whole && ::rename(temp.c_str(), path.c_str()) != 0) {
    whole = false;
    *error = std::strerror(errno);
  }
  if (!whole) {
    ::unlink(temp.c_str());
    return false;
  }
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

fs::path ToPath(const QString& file) {
  const QByteArray encoded = QFile::encodeName(file);
  return fs::path(std::string(encoded.constData(), static_cast<std::size_t>(encoded.size())));
}

#endif

// The file's bytes, empty when there is no file; nothing when it is there but cannot be read.
std::optional<std::string> ReadSettingsFile(const fs::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code code;
    if (!fs::exists(path, code) && !code) return std::string();
    *error = "cannot read " + path.string();
    return std::nullopt;
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    *error = "cannot read " + path.string();
    return std::nullopt;
  }
  return text;
}

}  // namespace

QtSettingsStore::QtSettingsStore()
    : directory_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                 "/kvr-station") {}

QString QtSettingsStore::FileFor(const std::string& application) const {
  if (!file_.isEmpty()) return file_;
  return directory_ + "/" + QString::fromStdString(application) + ".ini";
}

fs::path QtSettingsStore::PathFor(const std::string& application) const {
  return ToPath(FileFor(application));
}

std::string QtSettingsStore::Read(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
  std::string error;
  const std::optional<std::string> text = ReadSettingsFile(PathFor(application), &error);
  if (!text) return defaultValue;
  return IniDocument::Parse(*text).Get(section, key).value_or(defaultValue);
}

void QtSettingsStore::Write(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& value) {
  Update(application, section, key, [&value](const std::string&) { return value; });
}

std::optional<std::string> QtSettingsStore::Update(const std::string& application,
                                                   const std::string& section,
                                                   const std::string& key, const Change& change) {
  const fs::path path = PathFor(application);
  std::error_code ignored;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ignored);
  fs::path lockPath = path;
  lockPath += ".lck";
  const ExclusiveLock lock(lockPath);
  if (!lock.Held()) {
    lastError_ = "cannot lock " + lockPath.string() + ": " + lock.Error();
    return std::nullopt;
  }
  std::string error;
  const std::optional<std::string> text = ReadSettingsFile(path, &error);
  // A file that is there but cannot be read is never replaced by one holding a single key.
  if (!text) {
    lastError_ = error;
    return std::nullopt;
  }
  IniDocument document = IniDocument::Parse(*text);
  const std::optional<std::string> stored = document.Get(section, key);
  std::string value = change(stored.value_or(std::string()));
  if (stored != value) {
    document.Set(section, key, value);
    if (!ReplaceWhole(path, document.Serialize(kLineEnd), &error)) {
      lastError_ = path.string() + ": " + error;
      return std::nullopt;
    }
  }
  lastError_.clear();
  return value;
}

}  // namespace kvr
