#pragma once

#include <QSettings>
#include <QString>
#include <map>
#include <memory>

#include "platform/settings_store.h"

namespace kvr {

// Settings in an INI file per application (in the per-user folder, named after the
// application), or in one given file. Every write reaches the disk at once, and the file is
// replaced whole: a crash or power loss leaves the previous file or the new one, never a part.
class QtSettingsStore : public SettingsStore {
 public:
  // The per-user location.
  QtSettingsStore();
  explicit QtSettingsStore(const QString& file) : file_(file) {}

  std::string Read(const std::string& application, const std::string& section,
                   const std::string& key, const std::string& defaultValue) override;
  void Write(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;

  QString FileFor(const std::string& application) const;

 private:
  QSettings& For(const std::string& application);

  QString directory_;
  QString file_;
  std::map<std::string, std::unique_ptr<QSettings>> open_;
};

}  // namespace kvr
