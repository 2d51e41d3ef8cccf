#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace kvr {

// Settings in an INI file per application (in the per-user folder, named after the
// application), or in one given file. A symbolic link stands for the file it points to: that
// file is read, locked and replaced, so stations that reach one file by different names share
// it. Every change is made under an exclusive lock on "<file>.lck" that the operating system
// releases when its holder ends, however it ends: the file is read afresh, the key changed, and
// the file replaced whole (a temporary file, synced, renamed over it), so a crash or power loss
// leaves the previous file or the new one, never a part, and two stations on one file never lose
// each other's changes. What the station does not understand (comments, other lines, empty
// sections) is kept. A file that is a folder, a FIFO, a device or read-only is never replaced.
class QtSettingsStore : public SettingsStore {
 public:
  // The per-user location.
  QtSettingsStore();
  explicit QtSettingsStore(const QString& file) : file_(file) {}

  std::string Read(const std::string& application, const std::string& section,
                   const std::string& key, const std::string& defaultValue) override;
  void Write(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;
  std::optional<std::string> Update(const std::string& application, const std::string& section,
                                    const std::string& key, const Change& change) override;
  std::string Problem(const std::string& application) override;

  QString FileFor(const std::string& application) const;
  // Why the last Write or Update stored nothing; empty when it stored.
  std::string LastError() const override { return lastError_; }

 private:
  std::filesystem::path PathFor(const std::string& application) const;
  // The file's text; nothing (and the reason) when it cannot be read.
  std::optional<std::string> ReadText(const std::filesystem::path& path, std::string* error) const;

  QString directory_;
  QString file_;
  std::string lastError_;
};

}  // namespace kvr
