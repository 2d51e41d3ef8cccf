#include "platform/qt/qt_settings_store.h"

#include <QFile>
#include <QStandardPaths>

#include <system_error>

#include "platform/durable_file.h"
#include "platform/ini_document.h"

namespace kvr {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";

fs::path ToPath(const QString& file) {
  return fs::path(file.toStdWString());
}
#else
constexpr std::string_view kLineEnd = "\n";

fs::path ToPath(const QString& file) {
  const QByteArray encoded = QFile::encodeName(file);
  return fs::path(std::string(encoded.constData(), static_cast<std::size_t>(encoded.size())));
}
#endif

// Far beyond any settings file: a longer one is not the station's.
constexpr std::size_t kLongestFile = 16 << 20;

std::string Named(const fs::path& path, const std::string& reason) {
  return path.string() + ": " + reason;
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

std::optional<std::string> QtSettingsStore::ReadText(const fs::path& path,
                                                     std::string* error) const {
  std::string text;
  const FileOutcome read = ReadWholeFile(path, kLongestFile, text);
  if (read.Done()) return text;
  *error = Named(path, read.reason);
  return std::nullopt;
}

std::string QtSettingsStore::Problem(const std::string& application) {
  std::string error;
  ReadText(PathFor(application), &error);
  return error;
}

std::string QtSettingsStore::Read(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
  std::string error;
  const std::optional<std::string> text = ReadText(PathFor(application), &error);
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
  const fs::path name = PathFor(application);
  std::error_code ignored;
  if (name.has_parent_path() && !fs::exists(name.parent_path(), ignored))
    fs::create_directories(name.parent_path(), ignored);
  // Stations reaching the file through different links lock and replace the one file.
  const fs::path path = ResolveLinks(name);
  // Refused before a lock file is made beside what is no settings file (/dev/null.lck).
  if (const FileOutcome refused = CheckWritable(path); !refused.Done()) {
    lastError_ = Named(path, refused.reason);
    return std::nullopt;
  }
  const FileLock lock(path);
  if (!lock.Held()) {
    lastError_ = "cannot lock " + path.string() + ".lck: " + lock.Error();
    return std::nullopt;
  }
  std::string error;
  const std::optional<std::string> text = ReadText(path, &error);
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
    const FileOutcome replaced = ReplaceFile(path, document.Serialize(kLineEnd), TempName::Locked);
    if (!replaced.Done()) {
      lastError_ = Named(path, replaced.reason);
      return std::nullopt;
    }
  }
  lastError_.clear();
  return value;
}

}  // namespace kvr
